// The HEX reader and everything a write does with what it read: the input
// is a HEX file, analysed, loaded, relocated and written over the offline
// link into one model of each family.
#include "fuzz/fuzz_support.h"

using namespace vantlebld;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::LoadProjectTable();
  static fuzz::TMemoryFile file;
  file.Write(fuzz::Text(data, size));
  for (const uint8_t code : fuzz::kFamilyModels)
    fuzz::WriteOffline(file.Path(), code);
  return 0;
}
