#include "platform/shared.h"

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/platform.h"

namespace qv::platform {

Outcome createHidden(const std::string& folder, const std::string& base, std::string& name,
                     const std::function<Outcome(const std::string&)>& create) {
  // Random, so that two runs never pick the same; short enough to be a file name
  // whatever the page's name is.
  std::random_device entropy;
  for (int attempt = 0;; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%lu.%08x", processId(), entropy());
    name = folder + "." + base.substr(0, 200) + suffix;
    Outcome failed = create(name);
    if (!failed) return failed;
    name.clear();
    if (failed->errnum != EEXIST || attempt == 8) return failed;
  }
}

// A failed open leaves nothing behind: the steps, destroyed, undo what they did.
PageCore::PageCore(const std::string& path, TextSize size, std::unique_ptr<PageSteps> steps)
    : path_(path), size_(bytesInFile(size)), steps_(std::move(steps)) {
  if (Outcome failed = steps_->open(path_, size_)) throw failed->error(path_);
}

void PageCore::write(const char* data, std::size_t size) {
  if (Outcome failed = steps_->write(data, size, written_)) throw failed->error(path_);
}

void PageCore::close() {
  if (written_ != size_) {
    throw Error::program("the page came to " + std::to_string(written_) +
                         " bytes where its size said " + std::to_string(size_));
  }
  if (Outcome failed = steps_->close()) throw failed->error(path_);
  closed_ = true;
}

void PageCore::commit() {
  if (!closed_) throw Error::program("the page was committed before it was closed");
  if (Outcome failed = steps_->commit()) throw failed->error(path_);
}

PageFile::PageFile(const std::string& path, TextSize size)
    : core_(std::make_unique<PageCore>(path, size, systemPageSteps())) {}

PageFile::~PageFile() = default;

void PageFile::write(const char* data, std::size_t size) {
  core_->write(data, size);
}

void PageFile::close() {
  core_->close();
}

void PageFile::commit() {
  core_->commit();
}

}  // namespace qv::platform
