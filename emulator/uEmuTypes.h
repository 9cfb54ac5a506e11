// The emulator's value types that its users see: the device's
// configuration, stored documents, link faults and marking-code answers.
// The emulator and the test-side client of its control channel
// (client/uEmulator.h) both include this header, so there is one definition.
#pragma once

#include <cstdint>
#include <string>

namespace fr {

// Format codes as the device tables and tag 1209 carry them.
enum TEmuFFD : uint8_t { efFFD105 = 2, efFFD11 = 3, efFFD12 = 4 };

// Life states of the fiscal storage (offset 1 of 0xFF 0x01); each step adds a bit.
enum TEmuLifeState : uint8_t {
    lsReady = 1,       // set up, waiting for its registration
    lsFiscal = 3,      // registered: fiscal documents are made
    lsPostFiscal = 7,  // closed; documents still wait for the operator
    lsArchive = 15,    // closed and every document sent: the archive is only read
};

struct TEmuConfig {
    uint32_t Password = 30;
    uint8_t LineLen = 48;
    std::string SerialNumber = "0000000012345678";
    std::string ModelName = "ОРВАЛЕН-Ф ЭМУЛЯТОР";  // UTF-8; sent in the device code page
    bool Fiscalised = true;
    TEmuFFD FFD = efFFD12;
    std::string FNSerial = "9999078900012345";
    std::string INN = "7700000009";  // company INN (10 digits, or 12 for a person)
    std::string RegNumber = "0000000001012345";
    std::string CompanyName = "ООО \"ЭМУЛЯТОР\"";
    std::string Address = "г. Москва, ул. Тестовая, д. 1";
    uint8_t TaxSystems = 0x01;    // bit mask, bit 0 = общая
    uint8_t WorkModes = 0x00;     // bit mask of table 18 field 6
    uint8_t ExtWorkModes = 0x10;  // bit 4: goods with marking codes
    int PrintPolls = 2;           // status polls that report "printing" after output
    // Receipt arithmetic as a register checks it: an item's sum against its
    // price and quantity, its tax sum against its rate, the close's tax sums
    // against the items. Off: any consistent-looking numbers are taken.
    bool CheckArithmetic = true;
    // Line rate of the pseudo-terminal in bits per second (10 bits a byte):
    // each byte the device sends goes out no earlier than such a line would
    // deliver it. 0: as fast as the terminal takes them.
    int Baud = 0;
};

// One stored fiscal document: its type, number and TLV records.
struct TEmuDocument {
    uint32_t Number = 0;
    uint16_t Type = 0;  // 1 registration, 11 re-registration, 2 shift open, 5 shift close,
                        // 3 receipt, 31 correction, 21 settlement report, 6 storage closed
    int64_t Time = 0;   // device clock, seconds since 1970 (local time, no zone)
    uint32_t FiscalSign = 0;
    std::string TLV;  // the top-level records, concatenated
    bool Sent = false;
};

// How the storage answers the check of a marking code.
enum class TEmuMarkAnswer : uint8_t {
    Valid,               // the storage and the marking system confirm the code and its planned status
    Invalid,             // the code fails the storage's own check and the marking system's
    StatusNotConfirmed,  // a sound code whose planned status the marking system does not confirm
    Offline,             // the storage checked the code; the marking system did not answer
};

// Where a code stands in the storage's buffer of checked codes.
enum class TEmuMarkState : uint8_t { None, Pending, Accepted };

// A fault that strikes one command frame of the link (see TEmulator::FaultAtCommand).
enum class TEmuFault {
    Silence,         // no reply at all; the command does not run
    Nak,             // NAK; the command does not run
    BadChecksum,     // the command runs; its answer goes out with a wrong checksum
    CutAnswer,       // the command runs; its answer goes out two bytes short of its length
    ExtraBytes,      // the command runs; two bytes its length does not count precede the checksum
    DropConnection,  // TCP: the connection closes, nothing runs; pseudo-terminal: as Silence
    DeviceError,     // the answer carries the given result code; the command does not run
};

}  // namespace fr
