#pragma once
// The words of a GET DATA /TYPE = STREAM command that more than the parser
// must recognise alike: the names of its subcommands (in any case, letters
// compared by their UTF-8 upper case) and the full stop that ends the
// command. The plug-in's parser reads the command by these rules; dravrun
// looks at the same words to question a command before it loads the
// plug-in, so the two can never disagree about what a command names.
namespace drav {
namespace command {

enum class Subcommand { kNone, kPipe, kSocket, kHost, kRewindable, kSeekable, kVariables };

// The subcommand `word` names; kNone for any other word.
Subcommand SubcommandNamed(const char* word);

// Whether `text` starts with the full stop that ends the command: nothing
// after it is read, so the variable list ends there.
inline bool EndsCommand(const char* text) { return *text == '.'; }

}  // namespace command
}  // namespace drav
