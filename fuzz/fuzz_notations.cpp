// The terminal's notations: the input as a typed text in every send mode,
// and the input's bytes written out in each notation, which must read
// back as those bytes.
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "terminal/notations.h"

using namespace vantlebld;

namespace {

// A byte as a number of the notations, in one of the forms they read.
std::string Number(uint8_t b, size_t form) {
  static const char* const kForms[] = {"%u", "$%02x", "%02XH", "0x%X", "x%x", "%03u"};
  char text[8];
  std::snprintf(text, sizeof text, kForms[form % std::size(kForms)], b);
  return text;
}

// Char\: a backslash escaped, every other byte as it stands.
std::string CharEsc(const std::string& bytes) {
  std::string text;
  for (char c : bytes)
    text += c == '\\' ? std::string("\\x5C") : std::string(1, c);
  return text;
}

// Nr: the bytes as numbers ended by blanks, commas and semicolons.
std::string Nr(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i)
    text += Number(static_cast<uint8_t>(bytes[i]), i) + " ,;"[i % 3];
  return text;
}

// Mix2: bytes that can stand in a quoted word (no blank or control
// character, no comma) go in one; others as numbers.
std::string Mix2(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    text += b > ' ' && b != ',' ? "\"" + std::string(1, bytes[i]) + "\"" : Number(b, i);
    text += i % 2 == 0 ? " " : " , ";
  }
  return text;
}

void ExpectReadsBack(const char* notation, const std::string& bytes, const std::string& text,
                     std::string (*read)(const std::string&)) {
  std::string got;
  try {
    got = read(text);
  } catch (const ENotationError& e) {
    fuzz::Finding(std::string(notation) + " refuses \"" + text + "\": " + e.what());
  }
  if (got != bytes) fuzz::Finding(std::string(notation) + " misreads \"" + text + "\"");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzz::Text(data, size);
  for (int index = 0; index < kSendModeCount; ++index) {
    try {
      SendBytesForText(*SendModeFromIndex(index), text);
    } catch (const ENotationError&) {
      // the notation's report of a text it cannot read
    }
  }
  ExpectReadsBack("Char\\", text, CharEsc(text), CharEscToBytes);
  ExpectReadsBack("Nr", text, Nr(text), NrToBytes);
  ExpectReadsBack("Mix2", text, Mix2(text), Mix2ToBytes);
  return 0;
}
