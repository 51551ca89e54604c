#pragma once
// The process-wide registry of data sources. It owns every source added to
// it until the host takes one back (Take) or releases it (Release).
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class DRAV_DataSource;

class ServerDataManager {
 public:
  static ServerDataManager& GetInstance();

  // Registers `source` under `name` and takes ownership of it. `replace`
  // replaces a source of the same non-empty name. Returns the new entry's
  // index (0-based) in registration order.
  int Add(DRAV_DataSource& source, const std::string& name, bool replace);

  // Number of registered sources, and a non-owning look at one of them.
  std::size_t Count() const;
  DRAV_DataSource* Get(std::size_t index) const;
  std::string NameOf(std::size_t index) const;
  // Hands a source back to the caller, who then owns it; null when out of range.
  std::unique_ptr<DRAV_DataSource> Take(std::size_t index);
  // Hands back the most recently added source, or null when there is none.
  std::unique_ptr<DRAV_DataSource> TakeLast();
  // Destroys one source, or every source.
  void Release(std::size_t index);
  void ReleaseAll();

 private:
  ServerDataManager() = default;
  struct Entry {
    std::string name;
    std::unique_ptr<DRAV_DataSource> source;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};
