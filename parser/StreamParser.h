#pragma once
// StreamParser: reads the text of one GET DATA /TYPE = STREAM command and
// keeps what the later steps need: the stream and rewind names, the host,
// the SEEKABLE / SOCKET / REWINDABLE flags, the variables with their formats,
// the pending error and the warnings.
//
// Ownership: the parser owns its copy of the text, its pending error text,
// its warnings and the DRAV_Variable objects it creates; it never owns the
// adapter. Returned name pointers stay valid while the parser lives and the
// field is not rewritten.
//
// Operations return bool, or the codes 0 (one item read), 1 (nothing more to
// read) and 2 (refused). A refusal is posted where it is found, with
// PostErrorMsg; callers only pass it on.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/VariableName.h"
#include "host/DACAdapter.h"
#include "host/DravExport.h"
#include "host/DravFormat.h"
#include "host/DravVariable.h"
#include "host/ErrorText.h"

class DRAV_EXPORT StreamParser {
 public:
  // Room of every word, token, name and value buffer of the parser.
  static constexpr unsigned int kBufferSize = 1024;
  // Longest variable name, in bytes.
  static constexpr unsigned int kMaxNameBytes = drav::name::kMaxNameBytes;
  // Longest part of one subcommand that is examined.
  static constexpr unsigned int kMaxSubcommandBytes = 1022;

  StreamParser(const char* text, DACAdapterBase* adapter);
  StreamParser();
  virtual ~StreamParser();
  StreamParser(const StreamParser&) = delete;
  StreamParser& operator=(const StreamParser&) = delete;

  // ---- Driving the parse --------------------------------------------------
  // 0 accepted, 1 rejected (the error is pending).
  int ParseToExecutor();
  bool GetSyntax();
  // `name` and `value` each hold kBufferSize bytes.
  int ParseSubCommand(char* name, char* value);
  bool SetSyntaxParam(char* name, char* value);
  bool VerifySyntax();
  bool GetSeekFlag();
  bool GetSockUse();
  bool GetRewSupport();

  // ---- Scanning primitives -----------------------------------------------
  void SkipWhiteSpace();
  void SkipWhiteSpace(char*& p);
  void ParseWord(char* dest, unsigned int size);
  // `dest` holds kBufferSize bytes.
  void GetNextWord(char*& p, char* dest);
  void StripSpaces(char* s);
  void ParseDelims(char* dest, unsigned int size);
  long ParseInt();
  double ParseNumber();
  void GetNextInt(char* p, int& out);

  // ---- Stream, rewind and host names ---------------------------------------
  // `out` holds kBufferSize bytes.
  bool GetFilePath(char* out, bool useAdapter);
  const char* GetName();
  const char* GetHostName();
  const char* GetRewindName();
  void ParseFileName(char* out, unsigned int size);
  void StripQuotes(char*& text);
  void ConvertSlashTab(char*& text);

  // ---- Variable list -------------------------------------------------------
  int ParseVariable(int unused);
  bool GetVarName(char* name);
  unsigned int SearchUpperVarName(char* upperName);
  bool AddVariable(DRAV_Variable* variable);
  int GetVarIndex();
  DRAV_Variable* GetVariable(int index);
  void ParseVarName(DRAV_Variable* variable);
  void ParseDataType(DRAV_Variable* variable);
  bool GetLineNumber(unsigned long& line);
  bool GetPositions(unsigned long& start, unsigned long& width);

  // ---- Formats -------------------------------------------------------------
  bool GetFormat(unsigned long columnWidth, DRAV_Variable::FormatType& type,
                 unsigned long& width, unsigned int& decimals);
  void ParseFormat(char* word, unsigned long& width, unsigned int& decimals);
  void ApplyFormatDefaults(unsigned long columnWidth, unsigned int type,
                           unsigned long& width, unsigned int& decimals);
  void AdjustFormat(DRAV_Variable::FormatType& type, unsigned long& width, char* token);
  // printf-style trace hook; writes nothing.
  static void TraceFileOut(const char* format, ...);

  // ---- Messages --------------------------------------------------------------
  bool PostErrorMsg(unsigned int id, const char* token, bool warning);
  char* GetErrorMesToken();
  unsigned int GetErrorMesID();
  ErrorTextList* GetWarningList();
  void EmptyErrorTextList();

 private:
  char* scanPos;
  std::string streamName;
  std::string rewindName;
  bool seekable;
  bool useSocket;
  bool rewindable;
  std::string hostName;
  std::uint64_t lineNumber;
  std::uint32_t errorMesID;
  char* errorMesToken;
  bool variablesSeen;
  ErrorTextList warningList;
  std::uint64_t varIndex;
  std::vector<DRAV_Variable*>* variables;
  // Upper-case name -> position. The keys view the variables' own upper-case
  // names (no copies), so the variables must outlive the index; hashing keeps
  // a long list's duplicate check linear in the number of variables.
  std::unordered_map<std::string_view, std::uint32_t>* upperNameIndex;
  char* syntaxText;
  DACAdapterBase* adapter;
};
