#include "analysis/summary.h"

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

}  // namespace

int summary_write(std::FILE* file, const Summary& s) {
    if (std::fputs("picture,side,pixel_size,rms,psd_slope,psd_slope_error,hurst,fit_from,fit_to,rows,"
                   "psd_intercept\n",
                   file) < 0) {
        return 1;
    }
    const std::string picture = csv_field(s.picture);
    if (std::fprintf(file, "%s,%lu,", picture.c_str(), static_cast<unsigned long>(s.side)) < 0) return 1;
    if (s.length > 0 && std::fprintf(file, "%.17g", s.length / s.side) < 0) return 1;
    if (std::fprintf(file, ",%.17g,", s.rms) < 0) return 1;
    const int status =
        s.fitted ? std::fprintf(file, "%.17g,%.17g,%.17g,%.17g,%.17g,%llu,%.17g\n", s.fit.slope,
                                s.fit.slope_error, s.fit.hurst, s.fit_from, s.fit_to,
                                static_cast<unsigned long long>(s.fit.rows), s.fit.intercept)
                 : std::fprintf(file, ",,,,,,\n");
    return status < 0 ? 1 : 0;
}
