#pragma once
// A host string array addressed by index value: element n is the one whose index is n, whatever the
// array's lower bound, so element 0 of a zero-based array is simply never read by the decoders.
#include <stdexcept>
#include <string>
#include <vector>

namespace klvr {

// Raised for an index outside an array or table, as the host expects from its index getters.
class SubscriptError : public std::out_of_range {
  public:
    SubscriptError() : std::out_of_range("Subscript out of range") {}
};

struct SettingsArray {
    int lowerBound = 1;
    std::vector<std::string> values;

    bool Has(int index) const {
        return index >= lowerBound && index - lowerBound < static_cast<int>(values.size());
    }
    const std::string& At(int index) const {
        if (!Has(index)) throw SubscriptError();
        return values[static_cast<std::size_t>(index - lowerBound)];
    }
    // Missing elements read as empty text; the configuration decoder treats them like empty ones.
    std::string Get(int index) const { return Has(index) ? At(index) : std::string(); }

    static SettingsArray FromOneBased(std::vector<std::string> elements) { return {1, std::move(elements)}; }
};

}  // namespace klvr
