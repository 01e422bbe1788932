#include "app/driver.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <system_error>

#include "analysis/analysis.h"
#include "analysis/draw.h"
#include "app/profile.h"
#include "image/bmp.h"
#include "image/image.h"
#include "system/os.h"
#include "system/outputs.h"
#include "system/path.h"
#include "system/progress.h"
#include "system/report.h"

namespace {

constexpr std::size_t kMaxStemBytes = 190;

// How many of the `limit` bytes from `start` to keep so that the cut does not fall inside
// a UTF-8 character: a character whose lead byte lies before the cut and whose
// continuation bytes run past it is left out whole. Bytes that are not UTF-8 are cut
// where the limit falls.
std::size_t utf8_cut(const std::string& text, std::size_t start, std::size_t limit) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[start + i]); };
    std::size_t lead = limit;
    while (lead > 0 && limit - lead < 3 && (byte(lead) & 0xC0) == 0x80) {
        --lead;
    }
    if (lead == limit || (byte(lead) & 0xC0) != 0xC0) {
        return limit;
    }
    const unsigned b = byte(lead);
    const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    return lead + length > limit ? lead : limit;
}

// On an interrupt: no temporary and no progress line may outlive the process.
void interrupted() {
    outputs_remove_now();
    progress_erase_now();
}

// varlox's analysis, written into the set's temporaries; returns 0, or 1 after printing
// the failure's message. Everything it allocates is released when it returns; the
// outputs are committed by the caller.
int analyze(Image& image, OutputSet& outputs) {
    // Every output is created before the long transform, so that a name that cannot be
    // written is reported at once.
    if (outputs_create(outputs) != 0) {
        return 1;
    }
    Spectrum s{};
    if (spectrum_measure(image, s) != 0) {
        return 1;
    }
    struct Picture {
        OutputName output;
        bool ramp;
        Quantity quantity;
        const ValueRange* range;
    };
    const Picture pictures[4] = {{kAmpGray, false, kAmplitude, &s.amp},
                                 {kAmpRamp, true, kAmplitude, &s.amp},
                                 {kPowGray, false, kPower, &s.pow},
                                 {kPowRamp, true, kPower, &s.pow}};
    for (const Picture& pic : pictures) {
        if (pic.ramp) {
            draw_ramp(image, s.amplitude.get(), s.power.get(), pic.quantity, *pic.range);
        } else {
            draw_gray(image, s.amplitude.get(), s.power.get(), pic.quantity, *pic.range);
        }
        if (bmp_write_file(outputs_file(outputs, pic.output), outputs.files[pic.output].name, image) != 0 ||
            outputs_close(outputs, pic.output) != 0) {
            return 1;
        }
    }
    std::FILE* profile = outputs_file(outputs, kProfile);
    if (profile_write_header(profile) != 0 || profile_write_rows(profile, s.bins, image.width / 2) != 0) {
        report_write_failure(outputs.files[kProfile].name);
        return 1;
    }
    return outputs_close(outputs, kProfile);
}

// Reads and greys varlox's input picture, after checking that none of the output names
// is the input itself; null after the message.
ImagePtr run_read(const std::string& input, const std::string* names, int count) {
    ImagePtr image = bmp_read(input);
    if (!image) {
        return image;
    }
    for (int i = 0; i < count; ++i) {
        if (names_input(names[i], input)) {
            report("Error: %s would overwrite the input file\n", names[i].c_str());
            return ImagePtr();
        }
    }
    image_to_gray(*image);
    return image;
}

std::string output_base(const std::string& input) {
    // Only the final path component is searched for the extension, and only that part is
    // cut: the outputs land next to the input, never in another directory.
    const std::size_t start = path_name_start(input);
    std::size_t end = input.rfind('.');
    if (end == std::string::npos || end < start) {
        end = input.size();
    }
    std::size_t stem = end - start;
    if (stem > kMaxStemBytes) {
        stem = utf8_cut(input, start, kMaxStemBytes);
    }
    return input.substr(0, start + stem);
}

}  // namespace

void output_names_of(const std::string& input, const OutputRow* rows, int count, std::string* names) {
    const std::string base = output_base(input);
    for (int i = 0; i < count; ++i) {
        names[i] = base + rows[i].suffix;
    }
}

OutputNames output_names_build(const std::string& input) {
    OutputNames names;
    output_names_of(input, kVarloxOutputs, kOutputCount, names.data());
    return names;
}

void output_table_add(OutputSet& set, const OutputRow* rows, int count, const std::string* names) {
    // Either program may find a journal left by the other in the folder.
    for (const OutputRow& row : kVarloxOutputs) {
        outputs_know(set, row.suffix);
    }
    for (const OutputRow& row : kViewOutputs) {
        outputs_know(set, row.suffix);
    }
    for (int i = 0; i < count; ++i) {
        outputs_add(set, names[i], rows[i].text);
    }
}

bool names_input(const std::string& name, const std::string& input) {
    std::error_code ec;
    return std::filesystem::equivalent(path_native(name), path_native(input), ec) && !ec;
}

void run_start() {
    // Before anything is opened: a closed standard stream must not be handed to an output.
    os_standard_streams();
    os_console_setup();
    os_interrupts_install(interrupted);
    report("\n------- VARLOX version 1.0 -------\n");
    report("Spatial-frequency spectrum of a square picture by direct 2-D Fourier transform\n\n");
}

void analyze_spectrum(Image& image, const std::string& as_bw_name, const std::string& as_tg_name,
                      const std::string& ps_bw_name, const std::string& ps_tg_name,
                      const std::string& csv_name) {
    const OutputNames names = {as_bw_name, as_tg_name, ps_bw_name, ps_tg_name, csv_name};
    OutputSet outputs;
    output_table_add(outputs, kVarloxOutputs, kOutputCount, names.data());
    if (analyze(image, outputs) != 0 || outputs_commit(outputs) != 0) {
        outputs_discard(outputs);
        std::exit(1);
    }
}

int varlox_main(int argc, char** argv) {
    run_start();
    if (argc != 2) {
        report("Usage: varlox <inputfile>\n");
        return 1;
    }
    const std::string input = argv[1];
    const OutputNames names = output_names_build(input);
    ImagePtr image = run_read(input, names.data(), kOutputCount);
    if (!image) {
        return 1;
    }
    analyze_spectrum(*image, names[kAmpGray], names[kAmpRamp], names[kPowGray], names[kPowRamp],
                     names[kProfile]);
    image_free(std::move(image));
    report("The calculation has been completed successfully.\n");
    return 0;
}

int main_guarded(int (*entry)(int, char**), int argc, char** argv) {
    // Buffers are allocated without exceptions; this catches what the standard library's
    // own strings and paths might still throw when memory runs out.
    try {
        return entry(argc, argv);
    } catch (const std::bad_alloc&) {
        report_alloc_failure();
        return 1;
    }
}
