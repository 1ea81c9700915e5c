// The memory map of an example on one PIC of each family, against the
// device table's fields worked out by hand: zone = bytes per instruction ×
// (erase page × bootloader pages + slot instructions), from the top of
// flash; the entry the slot's instructions later. The relocation's notes,
// and a file a write would refuse, with the address it collides at.
#include "engine/memory_map.h"

#include <algorithm>

#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

class MemoryMapTest : public EngineFixture {
 protected:
  void SetUp() override { LoadTable(); }
};

TEST_F(MemoryMapTest, ZoneSlotEntryResetPathAndRefusalOfEachFamily) {
  const struct {
    uint8_t code;
    std::string file;                // an example's name, or HEX records made here
    std::vector<std::string> lines;  // in this order, others between them
    std::string refused = {};        // the reason a write gives, as the map holds or throws it
    std::string table = {};          // a device table of its own
  } cases[] = {
      // 16F877A: 2 × (4 × 56 + 32) = 512 bytes from 16384: HEX 3E00h, word
      // 1F00h; entry 32 words later, 1F20h. The file starts CLRF PCLATH,
      // GOTO 100h.
      {0x32,
       "pic16f877a_blink",
       {"device: PIC16F877A (type 32h), PIC16F, flash 16384 bytes",
        "bootloader zone: from 001F00h, 512 bytes; reset slot 001F00h, 8 bytes; entry 001F20h",
        "  000000h: MOVLW 1Fh", "  000001h: MOVWF PCLATH",
        "  000002h: GOTO 1F20h  -> bootloader entry", "  001F00h: CLRF PCLATH",
        "  001F01h: GOTO 0100h  -> your program"}},
      // 18F252: 2 × (32 × 8 + 4) = 520 bytes from 32768: 7DF8h, entry 7E00h.
      {0x41,
       "pic18f252_blink",
       {"bootloader zone: from 007DF8h, 520 bytes; reset slot 007DF8h, 8 bytes; entry 007E00h",
        "  000000h: GOTO 07E00h  -> bootloader entry", "  007DF8h: GOTO 00100h  -> your program"}},
      // dsPIC30F4013: 4 × (32 × 8 + 32) = 1152 bytes from 65536: HEX FB80h,
      // program 7DC0h; entry 32 instructions later, 7E00h.
      {0x73,
       "dspic30f4013_blink",
       {"bootloader zone: from 007DC0h, 1152 bytes; reset slot 007DC0h, 8 bytes; entry 007E00h",
        "  000000h: GOTO 007E00h  -> bootloader entry",
        "  007DC0h: GOTO 000100h  -> your program"}},
      // What the relocation did to the reset code: a 16F GOTO 100h without
      // PCLATH set gets CLRF PCLATH before it; a PIC18 BRA 400h from
      // address 0 becomes GOTO 400h in the slot.
      {0x32,
       HexRecord(0, 0, {0x00, 0x29}),
       {"relocation: PCLATH not fully initialised before GOTO!  ... successfully repaired."}},
      {0x41,
       HexRecord(0, 0, {0xFF, 0xD1}),
       {"relocation: BRA at 000000h made absolute: GOTO 000400h"}},
      // A GOTO at 0 and one word at the PIC18F252's entry: refused, at the
      // address it collides at.
      {0x41,
       HexRecord(0, 0, {0x80, 0xEF, 0x00, 0xF0}) + "\n" + HexRecord(0x7E00, 0, {0x12, 0x34}),
       {"  007E00h..007FFFh  bootloader zone  512 bytes  <- 007E00h collides"},
       "Overwriting bootloader denied"},
      // A file the reader refuses: its reason, and no map of an image
      // that was never read.
      {0x41, "no_such_example", {}, "File not found"},
      {0x41, ":10000000ZZ", {}, "not a hex symbol on line 1"},
      // A family letter the table reads past: no layout to map.
      {0x50,
       HexRecord(0, 0, {0x80, 0xEF, 0x00, 0xF0}),
       {},
       "unknown family: the device table gives type 50h (ODD) the family 0, which has no memory "
       "layout; check its line in piccodes.ini",
       "$50, X, ODD, 32768, 256, 32, 16, 2, 6, 4, 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string file = c.file.starts_with(":")
                                 ? dir.Write("map.hex", c.file + "\n" + kHexEnd + "\n")
                                 : Example(c.file);
    ASSERT_TRUE(engine.LoadPicCodesFile(c.table.empty() ? kTable : dir.Write("t.ini", c.table)));
    TMemoryMap map;
    const Raised raised = CatchVantle([&] { map = MapHexFile(c.code, file, 115200, true); });
    if (raised.thrown) {
      EXPECT_EQ(raised.message, c.refused);
      continue;
    }
    EXPECT_EQ(std::pair(map.Refused, map.Reason), std::pair(!c.refused.empty(), c.refused));
    const std::vector<std::string> lines = MapLines(map);
    auto at = lines.begin();
    for (const std::string& wanted : c.lines) {
      at = std::find(at, lines.end(), wanted);
      ASSERT_NE(at, lines.end()) << wanted << "\n" << testing::PrintToString(lines);
    }
    // The ranges cover the flash from 0 to its end without a gap.
    int64_t next = 0;
    for (const TMapRange& r : map.Ranges) {
      EXPECT_EQ(r.Start, next);
      next = r.End;
    }
    EXPECT_EQ(next, map.FlashBytes);
    EXPECT_EQ(map.Plan.Blocks > 0, c.refused.empty());
  }
}

}  // namespace
}  // namespace vantlebld::test
