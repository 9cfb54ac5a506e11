// What the KKT data window shows and does, worked out in the driver: the
// rows of its three grids (names, value texts, order) from the driver's own
// output documents, and the steps behind its buttons. The window module only
// shows the rows it is handed and calls back for the steps.
#pragma once

#include <cstdint>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

namespace fr {

class TDriver;

struct TKKTRow {
    std::string Name;
    std::string Value;
    bool operator==(const TKKTRow& A) const { return Name == A.Name && Value == A.Value; }
};
using TKKTRows = std::vector<TKKTRow>;

// strftime patterns of the desktop's short date and long time.
struct TDateTimeFormat {
    std::string Date;
    std::string Time;
};

// The patterns of the user's time locale (LC_ALL, LC_TIME, LANG on Linux,
// the user's regional format on Windows), read without changing the process
// locale. Without a locale of its own ("C", "POSIX", "C.UTF-8", or one that
// is not installed) the desktop gets the Russian "dd.mm.yyyy" and
// "hh:mm:ss".
TDateTimeFormat DesktopDateTimeFormat();

// "yyyy-mm-ddThh:nn:ss" (as the driver's documents hold date-times) as the
// date and the time of AFormat, separated by a space. An empty text stays
// empty; a text that is no such date-time is shown as it stands.
std::string FormatKKTDateTime(const std::string& AIsoText, const TDateTimeFormat& AFormat);

// A comma-separated list of taxation system codes as their names joined by
// ", "; unknown codes are skipped.
std::string TaxationSystemNames(const std::string& ACodes);

// The registration tab from the Parameters element of GetDataKKT.
TKKTRows RegistrationRows(pugi::xml_node AParameters, const TDateTimeFormat& AFormat);
// The state tab from the Parameters element of GetCurrentStatus, with the
// device clock (ISO text of GetDateTime) as its last row.
TKKTRows StateRows(pugi::xml_node AParameters, const std::string& AClock, const TDateTimeFormat& AFormat);
// The counters tab from the OutputParameters element of GetCurrentStatus:
// each pair only when its element is there.
TKKTRows CounterRows(pugi::xml_node AOutputParameters);

// The window's operations on the driver's current session, through the
// driver's own methods.
class TKKTParams {
public:
    TKKTParams(TDriver& ADriver, TDateTimeFormat AFormat) : FDriver(ADriver), FFormat(std::move(AFormat)) {}

    // The registration rows; none when GetDataKKT gave no Parameters.
    std::optional<TKKTRows> ReadRegistration();
    struct TStateRows {
        TKKTRows State;
        TKKTRows Counters;
    };
    // The state and counter rows; none when GetCurrentStatus gave no
    // Parameters.
    std::optional<TStateRows> ReadState();
    // 0 closed, 1 open, 2 open longer than 24 hours.
    int32_t ShiftState();
    // Closes the shift as "Администратор" without an INN.
    void CloseShift();
    // Sets the device clock to ALocalTime (seconds counted as if the
    // computer's local time were UTC, the device's own way).
    void SetClock(int64_t ALocalTime);

private:
    TDriver& FDriver;
    TDateTimeFormat FFormat;
};

}  // namespace fr
