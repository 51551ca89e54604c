// serve_cases PIPE: serves three cases of "id F8 name A6" over a named pipe with the installed feeder library:
// (1, "first"), (2, "second"), (missing, "third-and-cut"), the last name cut to its width of 6 bytes.
#include <cstdio>

#include "dravfeed/Feeder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: serve_cases PIPE\n");
    return 2;
  }
  using namespace drav::feed;
  try {
    const VariableList list = VariableList::Parse("id F8 name A6");
    const RecordBuilder builder(list, ByteOrder::kNative);
    MemoryCases cases(list.RecordBytes());
    const char* names[] = {"first", "second", "third-and-cut"};
    for (int i = 0; i < 3; ++i) {
      char* record = cases.AddRecord();
      i < 2 ? builder.SetNumber(record, 0, i + 1) : builder.SetMissing(record, 0);
      builder.SetString(record, 1, names[i]);
    }
    PipeServer(cases, ByteOrder::kNative, argv[1], "", ServeOptions()).Serve();
  } catch (const FeederError& e) {
    std::fprintf(stderr, "serve_cases: %s\n", e.what());
    return 1;
  }
  return 0;
}
