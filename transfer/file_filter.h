#pragma once
// The file filter: regular expressions separated by ";", each matched anywhere in a remote name. PCRE2
// in UTF mode that also accepts names which are not valid UTF-8, with match, depth and heap limits so
// that no pattern can hold up a run.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace klvr {

// A pattern that does not compile, or a match that hit a limit; what() carries PCRE2's message.
class FilterError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The patterns of a FileFilter, from index 0. One pattern alone is followed by an empty one, so that
// the list's upper bound (1) keeps the filter active.
std::vector<std::string> BuildFilterList(const std::string& fileFilter);

class NameFilter {
  public:
    explicit NameFilter(const std::string& fileFilter);
    ~NameFilter();
    NameFilter(const NameFilter&) = delete;
    NameFilter& operator=(const NameFilter&) = delete;

    // "." lets everything through; otherwise a name passes when a non-empty pattern matches somewhere in
    // it, so an empty filter or one made only of ";" lets nothing through. Patterns are compiled when
    // first needed; throws FilterError.
    bool Passes(const std::string& name);

  private:
    struct Compiled;
    bool active_ = true;
    std::vector<std::string> patterns_;
    std::vector<std::unique_ptr<Compiled>> compiled_;
};

}  // namespace klvr
