#pragma once
// Shared pieces of the stream tests: opening a source over a feeder with a
// small dictionary, and reading passes into plain byte strings.
#include <memory>
#include <string>
#include <vector>

#include "host/CommandAdapter.h"
#include "host/OBS.h"
#include "parser/StreamParser.h"
#include "stream/DRAV_StreamDataSrc.h"
#include "stream/DRAV_StreamIterator.h"
#include "tests/support/TestFeeder.h"

namespace drav {
namespace test {

// The dictionary every stream test uses: x F8.2, s A10, y F8.2.
inline const std::vector<int>& TestWidths() {
  static const std::vector<int> widths = {0, 10, 0};
  return widths;
}

inline std::vector<std::string> TestRecords(int count, bool swapped = false) {
  RecordBuilder builder(TestWidths(), swapped);
  std::vector<std::string> records;
  for (int i = 0; i < count; ++i)
    records.push_back(builder.Make({i + 0.5, -1000.25 * i}, {"case" + std::to_string(i)}));
  return records;
}

// Builds a source with the test dictionary from the parser's own reading of
// a variable list. Throws what the source's constructor throws.
inline std::unique_ptr<DRAV_StreamDataSrc> OpenSource(const std::string& name, const char* rewind,
                                                      bool seekable, bool useSocket,
                                                      const std::string& variables = "x F8.2 s A10 y F8.2") {
  auto source = std::make_unique<DRAV_StreamDataSrc>(name.c_str(), rewind, seekable, useSocket);
  CommandAdapter adapter({}, nullptr);
  const std::string text = "GET DATA /TYPE = STREAM /PIPE = 'unused' /VARIABLES = " + variables + "\n.";
  StreamParser parser(text.c_str(), &adapter);
  if (parser.ParseToExecutor() != 0) throw std::runtime_error(parser.GetErrorMesToken());
  source->SetDictionary(&parser);
  return source;
}

// Reads up to `limit` cases (all when negative) in one pass.
inline std::vector<std::string> ReadPass(const DRAV_StreamDataSrc& source, int limit = -1) {
  OBS obs(source.GetObsAreaSize());
  std::unique_ptr<DRAV_InputCaseIterator> it(source.MakeIterator(&obs));
  std::vector<std::string> cases;
  while ((limit < 0 || static_cast<int>(cases.size()) < limit) && it->Next() == 1)
    cases.emplace_back(obs.Data(), obs.Bytes());
  return cases;
}

}  // namespace test
}  // namespace drav
