#pragma once
// Conversions of text transfers, streaming: each chunk is converted as it arrives, so a line end split
// across two chunks is still recognised.
#include <string>
#include <string_view>

namespace klvr {

class TextConverter {
  public:
    enum class Mode { Binary, Ascii, Ebcdic };
    explicit TextConverter(Mode mode) : mode_(mode) {}

    // Converts one chunk; the result stays valid until the next call.
    std::string_view Convert(std::string_view chunk);
    // What a chunk boundary held back (a carriage return that turned out to end the file).
    std::string_view Finish();

  private:
    Mode mode_;
    bool pendingCr_ = false;
    std::string out_;
};

// Code page 037 to ISO-8859-1, with NL as the line end.
char EbcdicToLatin1(unsigned char c);

}  // namespace klvr
