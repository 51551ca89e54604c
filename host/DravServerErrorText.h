#pragma once
// Looks a message identifier up in a message catalog ("korvel.err" for
// errors, "talvex.err" for warnings).
//
// A catalog file holds one message per line: the identifier, a tab, the
// text; lines starting with "#" are comments. The text handed out always
// begins with "[" id "] " so that users see the number.
#include <string>

class DravServerErrorText {
 public:
  DravServerErrorText(const char* catalogFile, long id);
  // Never null; valid while this object lives. An identifier missing from the
  // catalog (or a catalog that cannot be read) still gives a text that says so.
  const char* GetText() const { return text_.c_str(); }

  // Folder the catalogs are read from. Without a call (or after a call with
  // ""), the folder named by the environment variable DRAVSTREAM_CATALOGS,
  // else the one the installation or the build tree keeps relative to the
  // host's own library. Thread-safe; clears the cache of read catalogs.
  static void SetCatalogDir(const std::string& dir);

 private:
  std::string text_;
};
