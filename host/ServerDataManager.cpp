#include "host/ServerDataManager.h"

#include "host/DravDataSource.h"

ServerDataManager& ServerDataManager::GetInstance() {
  static ServerDataManager instance;
  return instance;
}

int ServerDataManager::Add(DRAV_DataSource& source, const std::string& name, bool replace) {
  std::unique_ptr<DRAV_DataSource> replaced;  // destroyed after the lock is dropped
  std::lock_guard<std::mutex> lock(mutex_);
  // Adding a source twice must not make two owners of it.
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].source.get() == &source) return static_cast<int>(i);
  }
  if (replace && !name.empty()) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].name == name) {
        replaced = std::move(entries_[i].source);
        entries_[i].source.reset(&source);
        return static_cast<int>(i);
      }
    }
  }
  entries_.push_back(Entry{name, std::unique_ptr<DRAV_DataSource>(&source)});
  return static_cast<int>(entries_.size() - 1);
}

std::size_t ServerDataManager::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

DRAV_DataSource* ServerDataManager::Get(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < entries_.size() ? entries_[index].source.get() : nullptr;
}

std::string ServerDataManager::NameOf(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < entries_.size() ? entries_[index].name : std::string();
}

std::unique_ptr<DRAV_DataSource> ServerDataManager::Take(std::size_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index >= entries_.size()) return nullptr;
  std::unique_ptr<DRAV_DataSource> source = std::move(entries_[index].source);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  return source;
}

std::unique_ptr<DRAV_DataSource> ServerDataManager::TakeLast() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.empty()) return nullptr;
  std::unique_ptr<DRAV_DataSource> source = std::move(entries_.back().source);
  entries_.pop_back();
  return source;
}

void ServerDataManager::Release(std::size_t index) {
  // Destroy outside the lock: a source's destructor may talk to its feeder.
  std::unique_ptr<DRAV_DataSource> source = Take(index);
}

void ServerDataManager::ReleaseAll() {
  std::vector<Entry> released;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released.swap(entries_);
  }
}
