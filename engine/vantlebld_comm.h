// The bootloader engine: one object that holds the firmware image and the
// identified PIC, reads HEX files and the device table, and (in later
// layers) drives the link, finds the bootloader and writes the PIC.
//
// Plain C++ only; it reports what happens as typed job events
// (job_events.h) to one sink and reaches the PIC through a link (link.h)
// that the front end chooses.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/cancel_token.h"
#include "engine/defaults.h"
#include "engine/line_role.h"
#include "engine/link.h"
#include "engine/write_plan.h"

namespace vantlebld {

// Family numbers, from the family letter of the device table.
constexpr uint8_t kFamily16F = 3;      // B
constexpr uint8_t kFamily18F = 4;      // C
constexpr uint8_t kFamily18FJ = 5;     // J: written without EEPROM
constexpr uint8_t kFamily18FK = 6;     // K
constexpr uint8_t kFamilyDsPIC30 = 7;  // D: has an EEPROM area
constexpr uint8_t kFamilyDsPIC33 = 8;  // E: no EEPROM area

// Family groups that share an address map and block layouts.
inline bool Is16F(uint8_t family) {
  return family == kFamily16F;
}
inline bool Is18F(uint8_t family) {
  return family == kFamily18F || family == kFamily18FJ || family == kFamily18FK;
}
inline bool IsDsPIC(uint8_t family) {
  return family == kFamilyDsPIC30 || family == kFamilyDsPIC33;
}

// The device table's option bits.
constexpr uint8_t kOptionEveryBlock = 1;    // every unit below the zone goes out
constexpr uint8_t kOptionErasePass = 2;     // pages are erased from the zone down first
constexpr uint8_t kOptionNoRelocation = 4;  // the reset code stays at 0: no reset slot

// The blocks the 16F and dsPIC30 writers send, in HEX bytes; the other
// families' come from the device table (FlashBlockBytes).
constexpr int32_t kBlockBytes16F = 64;       // 32 words
constexpr int32_t kBlockBytesDsPIC30 = 128;  // 32 instructions
// dsPIC30: the data EEPROM ends at program address 7FFFFFh.
constexpr int32_t kDsEEPROMEnd = 0x800000;
// The dsPIC firmware's entry sits on a 40h program-address boundary.
constexpr int32_t kDsEntryAlign = 0x40;

// The start of the line that ends every successful write.
constexpr char kWriteOk[] = "WRITE OK";

// Sizes of the EEPROM and configuration areas of the image: offsets 0..16384
// and 0..4096, one entry more than a power of two.
constexpr int32_t kEEAreaSize = 16385;
constexpr int32_t kCfgAreaSize = 4097;
// Bit 7 of a flag byte: the byte is present (set by the HEX file or a later
// step). The other bits are always 0.
constexpr uint8_t kPresent = 0x80;

// The one error kind of the engine. Kind says what sort of failure carried
// the message; the message is what the user reads, and the hint (may be
// empty) what went on and what to try, said after it.
class EVantleError : public std::runtime_error {
 public:
  // Stopped: the user stopped the job (a write after the block on the line).
  enum class Kind { General, FileIO, SerialLink, Assertion, Stopped };
  explicit EVantleError(const std::string& message, Kind kind = Kind::General,
                        std::string hint = {})
      : std::runtime_error(message), kind_(kind), hint_(std::move(hint)) {}
  Kind ErrorKind() const { return kind_; }
  const std::string& Hint() const { return hint_; }

 private:
  Kind kind_;
  std::string hint_;
};

// What the relocation found in the reset code and did about it, in order.
struct TRelocationNote {
  enum class TKind : uint8_t {
    ForeignCode,   // the file's code looks like another family's
    NoGoto,        // no jump in the reset code
    PclathUnset,   // PIC16F: PCLATH not set before the GOTO
    Relative,      // a relative instruction that would count from the slot
    MadeAbsolute,  // a BRA turned into a GOTO to its old target
  };
  TKind Kind = TKind::NoGoto;
  int64_t Address = -1;  // HEX address of the instruction it is about; -1: none
  std::string Text;      // what a person reads
  // PclathUnset: the repair's outcome ("... successfully repaired."), else empty.
  std::string Repair;
};

// One PIC model of the device table, plus the fields identification derives.
struct TPICInfo {
  uint8_t Code = 0;  // type code; 0 marks an undefined entry
  std::string Name;
  uint8_t Family = 0;
  int32_t FlashSize = 0;  // program memory in HEX-file bytes
  int32_t EESize = 0;
  uint8_t BytesPerInstrPC = 0;
  uint8_t BytesPerInstrPIC = 0;
  uint8_t AddrIncrementPIC = 0;
  int32_t SizeOfBLDBytesPC = 0;
  int32_t StartBldZone = 0;
  int32_t ErasePageInstr = 0;
  int32_t RowInstr = 0;
  uint8_t RowsPerBlock = 0;
  int32_t BldPages = 0;
  uint8_t BldSlotInstr = 0;
  uint8_t Options = 0;  // 1 every block, 2 erase pass, 4 no reset relocation
};

// Where a HEX byte address belongs.
enum class TArea : uint8_t { None = 0, Flash = 1, EEPROM = 2, Config = 3 };
struct TAddressClass {
  TArea Area = TArea::None;
  int64_t EEOffset = 0;  // offset into EEData, for TArea::EEPROM only
};

struct TJobEvent;

class TVantleBootloader {
 public:
  using TEventSink = std::function<void(const TJobEvent& event)>;

  TVantleBootloader();
  ~TVantleBootloader();
  TVantleBootloader(const TVantleBootloader&) = delete;
  TVantleBootloader& operator=(const TVantleBootloader&) = delete;

  // --- Fields, in the engine's declaration order ---
  // The line to the PIC; offline until the front end installs another.
  std::unique_ptr<TLink> Link;
  // Where the engine reports what happens; nothing is reported until one
  // is installed.
  TEventSink OnEvent;
  TPICInfo pic;
  std::vector<uint8_t> FlashData;  // indexed by HEX byte address
  std::vector<uint8_t> FlashFlag;
  std::vector<uint8_t> EEData;  // kEEAreaSize entries
  std::vector<uint8_t> EEFlag;
  std::vector<uint8_t> CfgData;  // kCfgAreaSize entries
  std::vector<uint8_t> CfgFlag;
  int32_t BlocksToWrite = 0;
  int32_t BlocksWritten = 0;
  uint8_t PICType = 0;
  bool HexINHX32 = false;
  bool Hex18FCode = false;
  bool HexDsPIC = false;
  bool HexHasEEPROM = false;
  bool HexHasConfig = false;
  int64_t HexByteCount = 0;
  // The first flash byte of the loaded file past this PIC's flash, or -1.
  int64_t HexFlashPastEnd = -1;
  // The first EEPROM offset of the loaded file past the image's EEPROM
  // area (dropped by the load), or -1.
  int64_t HexEEPROMPastArea = -1;
  uint8_t IDCode = 0;
  // The PIC a link without answers stands for.
  uint8_t OfflineCode = 0;
  int32_t SearchSeconds = 0;
  int32_t WaitMs = 0;
  // Activation bytes the last search sent.
  int32_t ProbesSent = 0;
  int32_t BaudRate = 0;
  int32_t StopBits = 0;
  // The running job's stop request; none outside a job.
  std::shared_ptr<const TCancelToken> Cancel;
  bool CancelRequested() const { return Cancel && Cancel->Requested(); }
  int32_t RTSDTRonConnect = 0;  // 0 both off, 1 both on, 2 leave as opened

  // --- Firmware image (image.cpp) ---
  uint8_t GetByte(int32_t address, int dataorflag) const;
  void SetByte(int32_t address, int dataorflag, uint8_t value);
  uint16_t GetWord(int32_t w, int dataorflag) const;
  void SetWord(int32_t w, int dataorflag, uint16_t value);
  bool IsPresent(int32_t address) const;
  void MarkPresent(int32_t address);
  void ClearPresent(int32_t address);
  int64_t HexToPicAddr(int64_t hexByteAddress) const;
  TAddressClass ClassifyAddress(int64_t hexByteAddress) const;
  std::string ImageReport() const;

  // --- HEX reader (hex_reader.cpp) ---
  bool ReadHex(const std::string& fileName, bool load);
  bool AnalyzeHex(const std::string& fileName);
  static std::string HexAgeText(std::time_t fileTime, std::time_t now = std::time(nullptr));
  // The summary text of the last analysis, as the summary line shows it.
  std::string HexSummaryText() const;

  // --- Device table (device_table.cpp) ---
  // Reads the table from the first piccodes.ini found (FindPicCodes).
  bool LoadPicCodes();
  // Reads the table from a named file; sets the table loaded flag.
  bool LoadPicCodesFile(const std::string& path);
  bool LookupPic(int code);
  std::vector<std::string> PicCodeList() const;
  // The path of the device table to read: ./piccodes.ini, then the
  // program's own directory, then ../share/vantlebld beside it, then the
  // data directory the build was configured for. Empty when none exists.
  static std::string FindPicCodes();

  // --- Link (link.cpp) ---
  // Opens the link at baud with the engine's stop bits and sets RTS/DTR as
  // RTSDTRonConnect says. Returns false when the link has nothing to open
  // (offline); throws the link's error when it cannot be opened.
  bool Connect(const std::string& portName, int32_t baud);
  // A new rate for the open link; RTS/DTR are set again.
  void Configure(int32_t baud);
  void ApplyRTSDTR();
  // Closes the link; true when it was open.
  bool Disconnect();
  // Opens the named port again when the link is open now.
  void Reconnect(const std::string& portName, int32_t baud);
  // One byte to a PIC that answers; logged either way.
  void SendByte(uint8_t b);
  void SendString(const std::string& text);
  // What the PIC has sent and nobody read yet; throws when the link broke.
  std::string ReadAll();
  void Purge();
  // D/d raise/lower DTR, R/r raise/lower RTS; 10 ms after every character.
  void SignalScript(const std::string& script);
  // True when the port cannot be opened now: a probe of its own opens and
  // closes it, and any failure counts. A port this engine holds open is
  // busy too (port_discovery.cpp).
  bool IsPortBusy(const std::string& portName) const;

  // --- Search and identification (search.cpp) ---
  bool SearchPIC(bool ignoreUntilK);
  bool IdentifyPIC(uint8_t code);

  // --- Relocation (relocation.cpp) ---
  // Refuses a HEX file that certainly belongs to another family unless
  // allowForeignHex (the user said to write it anyway).
  void ReallocateReset(bool allowForeignHex = false);
  // What the last ReallocateReset found and did, for the memory map.
  std::vector<TRelocationNote> RelocationNotes;
  // Why the loaded HEX file certainly belongs to another family than the
  // identified PIC ("HEX file holds PIC18 code, the PIC is a PIC16F876A"),
  // or empty when it may belong to it.
  std::string ForeignHexReason() const;
  void Prepare16FPre();
  void Prepare18FPre();
  void PrepareDSPre();
  void Prepare16FAfter();
  void Prepare18FAfter();
  void PrepareDSAfter();

  // --- Flash writer (flash_writer.cpp, write_plan.cpp, preflight.cpp, send_block.cpp) ---
  // Plans the write's blocks (the EEPROM pass too when writeEEPROM), proves
  // the plan (CheckWritePlan) and only then sends them; a plan that fails
  // is refused with its reason before the first block.
  bool WriteFlash(bool writeEEPROM);
  bool BlockIsEmpty(int32_t start, int32_t length) const;
  // Sends one block (header, data, checksum) and waits for the firmware's
  // answer; resends on 'N'. Returns false on a link without answers, where
  // nothing is awaited; throws "Could not write" when the block is refused.
  bool SendBlock(const std::string& block);
  // Appends the checksum that makes the whole block sum to 0 mod 256.
  static std::string WithChecksum(std::string block);
  // The last write's blocks and what the preflight found of them.
  TBlockPlan LastPlan;
  TPreflight LastPreflight;

  // --- EEPROM, configuration and clear-all (eeprom_writer.cpp) ---
  void WriteEEPROMByte(int32_t address, uint8_t value);
  void WriteConfigByte(int32_t address, int32_t value);
  void WriteEEPROM16F(int32_t address, uint8_t value);
  void WriteEEPROM18F(int32_t address, uint8_t value);
  void WriteWordDS(int32_t address, uint16_t value);
  void WriteConfig18F(int32_t address, uint8_t value);
  void FillUserFlash();

  // How the block exchanges of the last write went.
  struct TLinkStats {
    int32_t BlocksSent = 0;  // sends, resends included
    int32_t NAnswers = 0;
    int32_t CatchUps = 0;
    int32_t Rubbish = 0;
    int32_t SlowestAnswerMs = 0;
    int64_t BytesSent = 0;
  };
  TLinkStats LinkStats;

  // Reports an event to OnEvent when installed.
  void Report(TJobEvent event);
  // Free text no typed event carries; verbose: for detailed logs only.
  void Say(TLineRole role, const std::string& text, bool verbose = false);

  // Resizes FlashData and FlashFlag; bytes already there keep their values,
  // new ones start at 0.
  void ResizeFlashImage(int32_t size);

 private:
  // The file the last analysis read, kept for the load that follows it.
  std::string analyzedHexName_;
  std::string analyzedHexText_;
  // Records a note and logs it: a warning's line starts "WARNING: " unless
  // plain, a made-absolute note is a detail line.
  void Note(TRelocationNote::TKind kind, int64_t address, const std::string& text,
            bool plain = false);
  // A HEX file's byte in the bootloader zone: the two log lines and the
  // error "Overwriting bootloader denied".
  void RefuseBootloaderZoneData();
  // A relative branch moved into the slot would jump from there: an
  // unconditional BRA becomes a GOTO to the target it had; anything else
  // relative is named in a warning.
  void MakeSlotBranch18FAbsolute();
  void MakeSlotBranchDSAbsolute();
  // The family's GOTO target (a byte address on PIC18, a program address
  // on dsPIC) at image word word / HEX byte at.
  void Put18FGoto(int32_t word, int32_t target);
  void PutDsGoto(int32_t at, int32_t target);
  // The line settings for baud, with the log line that shows them.
  TLineSettings LineSettings(int32_t baud);
  std::vector<uint8_t>& FlashArray(int dataorflag);
  const std::vector<uint8_t>& FlashArray(int dataorflag) const;
};

// Fills the fields that follow from the family and the table's geometry:
// bytes per instruction, then the bootloader zone's size and start. Returns
// false for a family outside 3..8: the three byte fields then stay as they
// were and the zone is computed from them.
bool DerivePicGeometry(TPICInfo& info);

// The block the family's flash writer sends, in HEX bytes; info must have
// its geometry derived.
int64_t FlashBlockBytes(const TPICInfo& info);

// The HEX bytes the family's program memory can span in the image's
// address map: above them lie the configuration or EEPROM areas
// (ClassifyAddress), and a block's address field carries no more. 0 for a
// family outside 3..8.
int64_t FlashAreaBytes(uint8_t family);

// Reads a device table file into the process-wide table and sets its
// loaded flag; report receives the messages (may be empty). The engine's
// LoadPicCodesFile calls it with its own sink.
bool ReadPicCodes(const std::string& path, const TVantleBootloader::TEventSink& report);

// The process-wide device table: 256 entries by type code, and whether the
// last reading succeeded.
std::array<TPICInfo, 256>& PicTable();
bool& PicTableLoaded();

}  // namespace vantlebld
