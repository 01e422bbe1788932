#include "analysis/summary.h"

#include <cmath>

namespace {

// A name as one CSV field: as it stands, or in double quotes with its quotes doubled
// when it holds a separator, a quote or a line end.
std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// ",value", or "," alone for a number that is not there (NaN).
int optional_field(std::FILE* file, double value) {
    const int status = std::isnan(value) ? std::fputs(",", file) : std::fprintf(file, ",%.17g", value);
    return status < 0 ? 1 : 0;
}

}  // namespace

int summary_write(std::FILE* file, const Summary& s) {
    if (std::fputs("picture,side,pixel_size,rms,psd_slope,psd_slope_error,hurst,fit_from,fit_to,rows,"
                   "psd_intercept,direction_deg,lay_deg,aspect,peak_period_px,peak_direction_deg\n",
                   file) < 0) {
        return 1;
    }
    const std::string picture = csv_field(s.picture);
    if (std::fprintf(file, "%s,%lu,", picture.c_str(), static_cast<unsigned long>(s.side)) < 0) return 1;
    if (s.length > 0 && std::fprintf(file, "%.17g", s.length / s.side) < 0) return 1;
    if (std::fprintf(file, ",%.17g,", s.rms) < 0) return 1;
    const int status =
        s.fitted ? std::fprintf(file, "%.17g,%.17g,%.17g,%.17g,%.17g,%llu,%.17g", s.fit.slope,
                                s.fit.slope_error, s.fit.hurst, s.fit_from, s.fit_to,
                                static_cast<unsigned long long>(s.fit.rows), s.fit.intercept)
                 : std::fputs(",,,,,,", file);
    if (status < 0) return 1;
    for (const double v : {s.direction, s.lay, s.aspect, s.peak_period_px, s.peak_direction}) {
        if (optional_field(file, v) != 0) return 1;
    }
    return std::fputs("\n", file) < 0 ? 1 : 0;
}
