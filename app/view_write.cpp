// varlox-view's files, written from a measurement: one writer per row of kViewOutputs,
// called in the output set's order.
#include <cmath>
#include <cstdio>
#include <limits>

#include "analysis/draw.h"
#include "app/csv.h"
#include "app/output_table.h"
#include "app/view.h"
#include "image/bmp.h"
#include "system/report.h"

namespace {

// What a writer is given: the measurement, the run's options and the input's name.
struct Source {
    const ViewResult& result;
    const ViewOptions& options;
    const std::string& input;
};

// NAME-as-log.bmp: the amplitude on a log scale from the result's top down `decades`.
// 0, or 1 after the message.
int write_log(std::FILE* file, const std::string& name, const Source& s) {
    ImagePtr canvas = view_log_picture(s.result, s.options);
    return canvas ? bmp_write_file(file, name, *canvas) : 1;
}

// NAME-full.csv: one row per bin with weight, from bin 0 out to the corner's bin; with
// the psd's columns in a measuring run. The means are sum / weight, not rescaled.
int write_full(std::FILE* file, const std::string&, const Source& s) {
    const RadialBins& bins = s.result.spectrum.bins;
    const double length = s.result.side_length;
    const bool psd = s.result.measured;
    std::string header = length > 0 ? "bin,cycles_per_side,cycles_per_metre,mean_amplitude,mean_power,weight"
                                    : "bin,cycles_per_side,mean_amplitude,mean_power,weight";
    if (psd) header += ",cycles_per_pixel,psd,psd_sd";
    if (csv_write_line(file, header.c_str()) != 0) return 1;
    for (uint64_t i = 0; i < bins.count; ++i) {
        const double weight = bins.weight[i];
        if (!(weight > 0)) continue;
        const double cycles = static_cast<double>(i) / 2;
        CsvRow row;
        csv_count(row, i);
        csv_number(row, cycles);
        if (length > 0) csv_number(row, cycles / length);
        csv_number(row, bins.amp_sum[i] / weight);
        csv_number(row, bins.pow_sum[i] / weight);
        csv_number(row, weight);
        if (psd) {
            csv_number(row, cycles / s.result.side);
            csv_number(row, s.result.psd.mean[i]);
            csv_number(row, s.result.psd.sd[i]);
        }
        if (csv_write(file, row) != 0) return 1;
    }
    return 0;
}

// NAME-summary.csv: the header line and one row (columns in output_table.h's order of
// fields, which only ever grows at its end).
int write_summary(std::FILE* file, const std::string&, const Source& s) {
    const ViewResult& r = s.result;
    const MeasureOptions& m = s.options.measure;
    if (csv_write_line(file,
                       "picture,side,pixel_size,rms,psd_slope,psd_slope_error,hurst,fit_from,fit_to,"
                       "fit_rows,psd_intercept,direction_deg,lay_deg,aspect,peak_period_px,"
                       "peak_direction_deg,columns,rows,pixel_size_x,pixel_size_y,height_unit,filled,"
                       "filled_share,sal,str,str_capped,std_deg,stdi,sq,sa,ssk,sku,sp,sv,sz,sdq,sdr,"
                       "sal_direction_deg,acf_threshold") != 0) {
        return 1;
    }
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    CsvRow row;
    csv_text(row, s.input);
    csv_count(row, r.side);
    csv_number(row, r.side_length > 0 ? r.side_length / r.side : kNone);
    csv_number(row, r.rms);
    if (r.fitted) {
        csv_number(row, r.fit.slope);
        csv_number(row, r.fit.slope_error);
        // A slope outside -4 to -2 describes no self-affine surface: no Hurst exponent.
        csv_number(row, r.fit.hurst_valid ? r.fit.hurst : kNone);
        csv_number(row, m.fit_from);
        csv_number(row, m.fit_to);
        csv_count(row, r.fit.rows);
        csv_number(row, r.fit.intercept);
    } else {
        for (int i = 0; i < 7; ++i) csv_empty(row);
    }
    csv_number(row, r.direction);
    csv_number(row, r.lay);
    csv_number(row, r.aspect);
    csv_number(row, r.peak_count > 0 ? r.side / r.peaks[0].frequency : kNone);
    csv_number(row, r.peak_count > 0 ? r.peaks[0].direction : kNone);
    const ScanGrid& g = r.grid;
    const bool sized = r.side_length > 0;
    csv_count(row, g.width);
    csv_count(row, g.height);
    csv_number(row, sized ? g.length_x / g.width : kNone);
    csv_number(row, sized ? g.length_y / g.height : kNone);
    csv_text(row, s.options.height_unit);
    csv_count(row, r.filled);
    csv_number(row, static_cast<double>(r.filled) / (static_cast<double>(g.width) * g.height));
    if (r.acf_measured) {
        const AcfResult& a = r.acf;
        csv_number(row, a.sal);
        csv_number(row, a.str);
        if (std::isnan(a.str)) {
            csv_empty(row);
        } else {
            csv_count(row, a.str_capped ? 1 : 0);
        }
        csv_number(row, r.direction);
        csv_number(row, r.stdi);
        for (const double v : {a.sq, a.sa, a.ssk, a.sku, a.sp, a.sv, a.sz, a.sdq, a.sdr}) csv_number(row, v);
        csv_number(row, a.sal_direction);
        csv_number(row, a.threshold);
    } else {
        for (int i = 0; i < 16; ++i) csv_empty(row);
    }
    return csv_write(file, row);
}

// NAME-angles.csv: one row per sector, its mean power, that as a psd, its weight and its
// whitened mean; a sector without samples has both means and the whitened mean empty.
int write_angles(std::FILE* file, const std::string&, const Source& s) {
    const AngularSpectrum& a = s.result.angles;
    if (csv_write_line(file, "direction_deg,mean_power,psd,weight,relative_power") != 0) return 1;
    for (uint32_t sector = 0; sector < kSectors; ++sector) {
        const double mean = angular_mean(a, sector);
        CsvRow row;
        csv_count(row, sector);
        csv_number(row, mean);
        csv_number(row, mean * s.result.psd_scale);
        csv_number(row, a.weight[sector]);
        csv_number(row, angular_relative(a, sector));
        if (csv_write(file, row) != 0) return 1;
    }
    return 0;
}

// NAME-peaks.csv: the peaks strongest first, rank from 1, with periods and frequencies
// in metres too when the side's length is known, then the standard errors and the
// prominence (added last, so that readers of the earlier columns keep their places).
int write_peaks(std::FILE* file, const std::string&, const Source& s) {
    const double length = s.result.side_length;
    const double side = s.result.side;
    if (csv_write_line(file, length > 0 ? "rank,cycles_per_side,cycles_per_pixel,cycles_per_metre,period_px,"
                                          "period_m,direction_deg,amplitude,power_share,period_error_px,"
                                          "period_error_m,direction_error_deg,prominence"
                                        : "rank,cycles_per_side,cycles_per_pixel,period_px,direction_deg,"
                                          "amplitude,power_share,period_error_px,direction_error_deg,"
                                          "prominence") != 0) {
        return 1;
    }
    for (uint64_t i = 0; i < s.result.peak_count; ++i) {
        const Peak& p = s.result.peaks[i];
        CsvRow row;
        csv_count(row, i + 1);
        csv_number(row, p.frequency);
        csv_number(row, p.frequency / side);
        if (length > 0) csv_number(row, p.frequency / length);
        csv_number(row, side / p.frequency);
        if (length > 0) csv_number(row, length / p.frequency);
        csv_number(row, p.direction);
        csv_number(row, p.amplitude);
        csv_number(row, p.power_share);
        // The period's error from the frequency's: S err(f) / f^2 (peaks.h).
        const double relative = p.frequency_error / p.frequency;
        csv_number(row, side / p.frequency * relative);
        if (length > 0) csv_number(row, length / p.frequency * relative);
        csv_number(row, p.direction_error);
        csv_number(row, p.prominence);
        if (csv_write(file, row) != 0) return 1;
    }
    return 0;
}

// NAME-acf.bmp: the autocorrelation over the lag window, lag (0, 0) at the centre, -1 to
// 1 linearly as the log picture's colour ramp (or grey) runs from its bottom to its top.
// 0, or 1 after the message.
int write_acf_picture(std::FILE* file, const std::string& name, const Source& s) {
    const AcfResult& a = s.result.acf;
    ImagePtr canvas = image_new(a.lags_x * 2 + 1, a.lags_y * 2 + 1);
    if (!canvas) {
        return 1;
    }
    draw_signed(*canvas, a.plane.get(), !s.options.gray);
    return bmp_write_file(file, name, *canvas);
}

// NAME-acf.csv: the radial decay, one row per ring, and beside it on the first 180 rows
// the directional decay, one row per degree (its cells empty past the 180th row, the
// ring's past the last ring). Distances in metres with a size, else in pixels.
int write_acf_decay(std::FILE* file, const std::string&, const Source& s) {
    const AcfResult& a = s.result.acf;
    if (csv_write_line(file, s.result.side_length > 0
                                 ? "ring,distance_m,mean_acf,lags,direction_deg,crossing_m,capped"
                                 : "ring,distance_px,mean_acf,lags,direction_deg,crossing_px,"
                                   "capped") != 0) {
        return 1;
    }
    const uint64_t rows = a.rings > kAcfDirections ? a.rings : kAcfDirections;
    for (uint64_t i = 0; i < rows; ++i) {
        CsvRow row;
        if (i < a.rings) {
            csv_count(row, i);
            csv_number(row, static_cast<double>(i) * a.ring_step);
            csv_number(row, a.ring_mean[i]);
            csv_count(row, a.ring_count[i]);
        } else {
            for (int k = 0; k < 4; ++k) csv_empty(row);
        }
        if (i < kAcfDirections) {
            csv_count(row, i);
            csv_number(row, a.crossing[i]);
            if (std::isnan(a.crossing[i])) {
                csv_empty(row);
            } else {
                csv_count(row, a.capped[i] ? 1 : 0);
            }
        } else {
            for (int k = 0; k < 3; ++k) csv_empty(row);
        }
        if (csv_write(file, row) != 0) return 1;
    }
    return 0;
}

// The writer of each output, in the table's order. The log picture reports its own
// failure (the BMP writer names the file); a CSV writer's failure is reported here.
using Writer = int (*)(std::FILE* file, const std::string& name, const Source& s);
constexpr Writer kWriters[kViewOutputCount] = {write_log,   write_full,        write_summary,  write_angles,
                                               write_peaks, write_acf_picture, write_acf_decay};
static_assert(kViewLog == 0 && kViewFull == 1 && kViewSummary == 2 && kViewAngles == 3 && kViewPeaks == 4 &&
                  kViewAcfPicture == 5 && kViewAcfDecay == 6,
              "a writer for each row of the table, in its order");

}  // namespace

ImagePtr view_log_picture(const ViewResult& result, const ViewOptions& options) {
    ImagePtr canvas = image_new(result.grid.width, result.grid.height);
    if (canvas) {
        draw_log(*canvas, result.spectrum.amplitude.get(), result.top, options.decades, !options.gray);
    }
    return canvas;
}

int view_write_file(int output, std::FILE* file, const std::string& name, const ViewResult& result,
                    const ViewOptions& options, const std::string& input) {
    if (kWriters[output](file, name, Source{result, options, input}) == 0) {
        return 0;
    }
    if (output != kViewLog && output != kViewAcfPicture) report_write_failure(name);
    return 1;
}

int view_write(const ViewResult& result, const ViewOptions& options, const std::string& input,
               OutputSet& outputs) {
    for (int i = 0; i < outputs.count; ++i) {
        if (view_write_file(i, outputs_file(outputs, i), outputs.files[i].name, result, options, input) !=
            0) {
            return 1;
        }
        if (outputs_close(outputs, i) != 0) {
            return 1;
        }
    }
    return 0;
}
