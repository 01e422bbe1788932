// The Python module varlox: varlox-view's reader, transform and measurement on NumPy
// arrays, through the very functions the programs run, so that every array holds the
// programs' bits and every value what their files print. The options are varlox-view's,
// as keywords: each is turned into the option's text and read by the program's own
// parser. The library's messages are caught on the calling thread (report_sink_set) and
// raised as Python exceptions; the transform runs without the GIL and stops on Ctrl-C
// (dft_stop_set).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/output_table.h"
#include "app/view.h"
#include "app/view_options.h"
#include "image/heights.h"
#include "spectrum/spectrum.h"
#include "system/os.h"
#include "system/outputs.h"
#include "system/report.h"

namespace py = pybind11;

namespace {

// ---------------------------------------------------------------------------------------
// Messages and interrupts.

// While it lives, the calling thread's messages go into `text` and a transform on this
// thread stops when Python has a signal to handle (Ctrl-C); the handler's exception, if
// it raised one, is left set for raise_failure.
struct Capture {
    std::string text;
    std::string* sink_before;
    const DftStop* stop_before;
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
};

bool python_interrupted(void*) {
    py::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
}

const DftStop kPythonStop{python_interrupted, nullptr};

Capture::Capture() : sink_before(report_sink_set(&text)), stop_before(dft_stop_set(&kPythonStop)) {}

Capture::~Capture() {
    dft_stop_set(stop_before);
    report_sink_set(sink_before);
}

// The message of a failure: the text after "Error: " on its first such line (without the
// line end), or all of the text when no line has one.
std::string failure_text(const std::string& text) {
    const std::string mark = "Error: ";
    std::string::size_type at = text.rfind('\n' + mark);
    at = text.compare(0, mark.size(), mark) == 0 ? 0 : (at == std::string::npos ? at : at + 1);
    if (at == std::string::npos) {
        std::string all = text;
        while (!all.empty() && all.back() == '\n') all.pop_back();
        return all.empty() ? "the operation failed" : all;
    }
    const std::string::size_type end = text.find('\n', at);
    return text.substr(at + mark.size(),
                       end == std::string::npos ? std::string::npos : end - at - mark.size());
}

bool has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// Raises what a failed call left: the signal handler's exception (KeyboardInterrupt), or
// the message as MemoryError, OSError (a file that cannot be read or written) or
// ValueError.
[[noreturn]] void raise_failure(const Capture& capture) {
    if (PyErr_Occurred() != nullptr) throw py::error_already_set();
    const std::string message = failure_text(capture.text);
    if (has(message, "Memory allocation error")) throw std::bad_alloc();
    if (has(message, "Could not read") || has(message, "Could not write") || has(message, "Could not open") ||
        has(message, "Could not create")) {
        PyErr_SetString(PyExc_OSError, message.c_str());
        throw py::error_already_set();
    }
    throw py::value_error(message);
}

// The warnings a successful call printed, as Python warnings.
void pass_warnings(const std::string& text) {
    std::string::size_type at = 0;
    while (at < text.size()) {
        std::string::size_type end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.compare(0, 9, "Warning: ") == 0) {
            if (PyErr_WarnEx(PyExc_RuntimeWarning, line.c_str() + 9, 1) != 0) throw py::error_already_set();
        }
        at = end + 1;
    }
}

// ---------------------------------------------------------------------------------------
// Arrays in.

// The heights of `object`, a 2-D array of real numbers, as C-ordered doubles: the array
// itself when it is one already, else one converted copy. TypeError for another type,
// ValueError for another shape or no element.
py::array_t<double, py::array::c_style> heights_of(const py::handle& object) {
    py::array array = py::array::ensure(object);
    if (!array) {
        throw py::type_error("heights must be an array of real numbers, not " +
                             std::string(py::str(py::type::of(object).attr("__name__"))));
    }
    const char kind = array.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b') {
        throw py::type_error("heights must be real numbers, not " + std::string(py::str(array.dtype())));
    }
    if (array.ndim() != 2) {
        throw py::value_error("heights must be a 2-D array (rows, columns), not " +
                              std::to_string(array.ndim()) + "-D");
    }
    if (array.shape(0) < 1 || array.shape(1) < 1) {
        throw py::value_error("heights must have a row and a column at least, not " +
                              std::to_string(array.shape(0)) + " x " + std::to_string(array.shape(1)));
    }
    if (array.shape(0) > 0x7fffffff || array.shape(1) > 0x7fffffff) {
        throw py::value_error("heights may have at most 2147483647 rows and columns");
    }
    return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(array);
}

// ValueError for a height that is not finite, naming the first.
void refuse_not_finite(const py::array_t<double, py::array::c_style>& z, const char* what) {
    const double* p = z.data();
    const auto columns = static_cast<uint64_t>(z.shape(1));
    const auto count = static_cast<uint64_t>(z.size());
    uint64_t bad = 0;
    uint64_t first = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (!std::isfinite(p[i])) {
            if (bad++ == 0) first = i;
        }
    }
    if (bad > 0) {
        throw py::value_error(std::string(what) + " holds " + std::to_string(bad) + " value" +
                              (bad == 1 ? "" : "s") + " that are not finite, the first at row " +
                              std::to_string(first / columns) + ", column " +
                              std::to_string(first % columns));
    }
}

int threads_of(const py::object& threads) {
    if (threads.is_none()) return 1;
    if (!py::isinstance<py::int_>(threads) || py::isinstance<py::bool_>(threads)) {
        throw py::type_error("threads takes a whole number, not " +
                             std::string(py::str(py::type::of(threads).attr("__name__"))));
    }
    const long n = threads.cast<long>();
    if (n < 1 || n > 4096)
        throw py::value_error("threads takes a whole number from 1 to 4096, not " + std::to_string(n));
    return static_cast<int>(n);
}

// ---------------------------------------------------------------------------------------
// read and spectrum.

const char* format_name(HeightFormat format) {
    switch (format) {
        case kHeightsBmp: return "bmp";
        case kHeightsPgm: return "pgm";
        case kHeightsPfm: return "pfm";
        case kHeightsX3p: return "x3p";
        case kHeightsGwy: return "gwy";
        case kHeightsTiff: return "tiff";
    }
    return "unknown";
}

py::object make_namespace(const py::dict& fields) {
    return py::module_::import("types").attr("SimpleNamespace")(**fields);
}

// The heights of a map as a new array.
py::array_t<double> array_of(const HeightMap& map) {
    py::array_t<double> z({static_cast<py::ssize_t>(map.height), static_cast<py::ssize_t>(map.width)});
    std::memcpy(z.mutable_data(), map.z.get(), sizeof(double) * map.width * map.height);
    return z;
}

py::object read_scan(const std::string& path, const py::object& channel) {
    const int k = channel.is_none() ? -1 : channel.cast<int>();
    if (!channel.is_none() && k < 0) throw py::value_error("channel takes a whole number 0 or above");
    HeightMap map{};
    Capture capture;
    int status = 0;
    {
        py::gil_scoped_release released;
        status = heights_read(path, map, kHeightsPipeMax, k);
    }
    if (status != 0) raise_failure(capture);
    if (k >= 0 && map.format != kHeightsGwy) {
        throw py::value_error("channel is for Gwyddion files, and " + path + " is not one");
    }
    pass_warnings(capture.text);
    py::dict fields;
    fields["heights"] = array_of(map);
    fields["pixel_size"] = map.dx > 0 && map.dy > 0 ? py::object(py::make_tuple(map.dx, map.dy)) : py::none();
    fields["unit"] = map.z_unit.empty() ? py::object(py::none()) : py::object(py::str(map.z_unit));
    fields["format"] = format_name(map.format);
    fields["path"] = path;
    return make_namespace(fields);
}

py::array_t<std::complex<double>> spectrum_of(const py::object& heights, const py::object& threads) {
    const int n = threads_of(threads);
    const py::array_t<double, py::array::c_style> z = heights_of(heights);
    refuse_not_finite(z, "heights");
    const auto rows = static_cast<uint32_t>(z.shape(0));
    const auto columns = static_cast<uint32_t>(z.shape(1));
    const uint64_t count = uint64_t{rows} * columns;
    Capture capture;
    // The real parts are transformed in the first half of the result's own memory, the
    // imaginary ones beside it, and then interleaved in place from the end: value i moves
    // to 2i and 2i + 1, never before a value still to be read.
    py::array_t<std::complex<double>> out(
        {static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
    auto* re = reinterpret_cast<double*>(out.mutable_data());
    Buffer<double> im = buffer_new<double>(count);
    if (!im) raise_failure(capture);
    int status = 0;
    {
        py::gil_scoped_release released;
        status = heights_spectrum(z.data(), columns, rows, re, im.get(), nullptr, n);
        if (status == 0) {
            for (uint64_t i = count; i-- > 0;) {
                const double real = re[i];
                re[2 * i + 1] = im[i];
                re[2 * i] = real;
            }
        }
    }
    if (status != 0) raise_failure(capture);
    return out;
}

// ---------------------------------------------------------------------------------------
// measure.

// A keyword's value as the option's text: text as it stands; a number as Python writes it
// (its shortest exact form, which the program reads back to the same double); a tuple or
// list of numbers joined by `join`, and for a band an optional unit ("px") after a slash.
std::string option_text(const char* name, const py::handle& value, const char* join, bool band) {
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (py::isinstance<py::bool_>(value)) {
        throw py::type_error(std::string(name) + " takes a number or text, not True or False");
    }
    if (py::isinstance<py::int_>(value)) return py::str(value).cast<std::string>();
    if (py::isinstance<py::float_>(value)) return py::repr(value).cast<std::string>();
    if (py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) {
        const py::sequence items = value.cast<py::sequence>();
        std::string text;
        const size_t n = items.size();
        for (size_t i = 0; i < n; ++i) {
            const py::object item = items[i];
            if (band && i == 2 && n == 3 && py::isinstance<py::str>(item)) {
                text += "/" + item.cast<std::string>();
                continue;
            }
            if (i > 0) text += join;
            text += option_text(name, item, join, false);
        }
        return text;
    }
    throw py::type_error(std::string(name) + " takes a number, text or a tuple, not " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
}

// varlox-view's options by keyword: the option each stands for, how its value is joined
// when it is a tuple, and whether it is a flag (True or False).
struct Keyword {
    const char* keyword;
    const char* option;
    const char* join;
    bool flag;
    bool band;
};

constexpr Keyword kKeywords[] = {
    {"level", "--level", ",", false, false},
    {"window", "--window", ":", false, false},
    {"fit", "--fit", ":", false, true},
    {"band", "--band", ":", false, true},
    {"peaks", "--peaks", ",", false, false},
    {"min_prominence", "--min-prominence", ",", false, false},
    {"acf", "--acf", ",", true, false},
    {"acf_threshold", "--acf-threshold", ",", false, false},
    {"pixel_size", "--pixel-size", ",", false, false},
    {"length", "--length", ",", false, false},
    {"z_scale", "--z-scale", ",", false, false},
    {"fill", "--fill", ",", false, false},
    {"decades", "--decades", ",", false, false},
    {"gray", "--gray", ",", true, false},
    {"channel", "--channel", ",", false, false},
};

// The command line varlox-view would be given for `keywords`; TypeError for a keyword it
// has no option for.
std::vector<std::string> command_line(const py::dict& keywords) {
    std::vector<std::string> args{"varlox-view"};
    for (const auto& item : keywords) {
        const std::string key = item.first.cast<std::string>();
        const Keyword* k = nullptr;
        for (const Keyword& row : kKeywords) {
            if (key == row.keyword) k = &row;
        }
        if (k == nullptr) throw py::type_error("measure() got an unexpected keyword argument '" + key + "'");
        if (item.second.is_none()) continue;
        if (k->flag) {
            if (item.second.cast<bool>()) args.emplace_back(k->option);
            continue;
        }
        if (key == "fill" && py::isinstance<py::bool_>(item.second)) {
            if (item.second.cast<bool>()) args.emplace_back("--fill=mean");
            continue;
        }
        args.push_back(std::string(k->option) + "=" + option_text(k->keyword, item.second, k->join, k->band));
    }
    return args;
}

// The columns of the files that hold counts, and those that hold text.
bool counting(const std::string& name) {
    static const char* const kCounts[] = {"bin", "rank", "ring"};
    for (const char* c : kCounts) {
        if (name == c) return true;
    }
    return false;
}

bool textual(const std::string& name) {
    return name == "picture" || name == "height_unit";
}

// A CSV text as a dict of columns, through Python's csv module: numbers as float64
// arrays (an empty cell NaN), the counting columns as int64, the text columns as lists
// of str. `groups` splits a file whose columns end at different rows (NAME-acf.csv):
// each column is as long as the last non-empty cell of its group's first column.
py::dict columns_of(const std::string& text, const std::vector<size_t>& groups = {}) {
    std::vector<std::vector<std::string>> rows;
    for (const py::handle row :
         py::module_::import("csv").attr("reader")(py::module_::import("io").attr("StringIO")(text))) {
        rows.push_back(row.cast<std::vector<std::string>>());
    }
    py::dict out;
    if (rows.empty()) return out;
    const std::vector<std::string>& header = rows[0];
    const size_t n = rows.size() - 1;
    // Row r's cell in column c; a row the writers left short (they never do) reads empty.
    static const std::string kEmpty;
    const auto cell = [&](size_t r, size_t c) -> const std::string& {
        return c < rows[r + 1].size() ? rows[r + 1][c] : kEmpty;
    };
    for (size_t c = 0; c < header.size(); ++c) {
        const std::string& name = header[c];
        size_t lead = 0;
        for (size_t g : groups) {
            if (g <= c) lead = g;
        }
        size_t length = n;
        if (!groups.empty()) {
            length = 0;
            for (size_t r = 0; r < n; ++r) {
                if (!cell(r, lead).empty()) length = r + 1;
            }
        }
        if (textual(name)) {
            py::list values;
            for (size_t r = 0; r < length; ++r) values.append(cell(r, c));
            out[name.c_str()] = values;
        } else if (counting(name)) {
            py::array_t<int64_t> values(static_cast<py::ssize_t>(length));
            for (size_t r = 0; r < length; ++r) values.mutable_at(r) = std::stoll(cell(r, c));
            out[name.c_str()] = values;
        } else {
            py::array_t<double> values(static_cast<py::ssize_t>(length));
            for (size_t r = 0; r < length; ++r) {
                const std::string& text_of = cell(r, c);
                values.mutable_at(r) =
                    text_of.empty() ? std::nan("") : py::float_(py::str(text_of)).cast<double>();
            }
            out[name.c_str()] = values;
        }
    }
    return out;
}

// The summary's one row as a dict: numbers as float, counts as int, text as str, an
// empty cell None.
py::dict summary_of(const std::string& text) {
    const py::dict table = columns_of(text);
    py::dict out;
    static const char* const kWhole[] = {"side", "columns", "rows", "filled", "fit_rows", "str_capped"};
    for (const auto& item : table) {
        const std::string name = item.first.cast<std::string>();
        py::object value;
        if (textual(name)) {
            const std::string cell = py::reinterpret_borrow<py::list>(item.second)[0].cast<std::string>();
            value = (cell.empty() && name != "picture") ? py::object(py::none()) : py::object(py::str(cell));
        } else {
            const double v = py::reinterpret_borrow<py::array_t<double>>(item.second).at(0);
            bool whole = false;
            for (const char* w : kWhole) whole = whole || name == w;
            value = std::isnan(v) ? py::object(py::none())
                    : whole       ? py::object(py::int_(static_cast<long long>(v)))
                                  : py::object(py::float_(v));
        }
        out[item.first] = value;
    }
    return out;
}

// What writer `output` writes, as text (through a temporary file, as the program writes
// it); raises the writer's failure.
std::string written_text(int output, const ViewResult& result, const ViewOptions& options,
                         const std::string& input) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), std::fclose);
    Capture capture;
    if (!file) {
        PyErr_SetString(PyExc_OSError, "Could not make a temporary file for the measurement's tables");
        throw py::error_already_set();
    }
    if (view_write_file(output, file.get(), kViewOutputs[output].suffix, result, options, input) != 0 ||
        std::fflush(file.get()) != 0) {
        raise_failure(capture);
    }
    std::rewind(file.get());
    std::string text;
    char chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, got);
    return text;
}

// The log picture as rows x columns x 3 bytes, red, green, blue.
py::array_t<uint8_t> log_picture_of(const ViewResult& result, const ViewOptions& options) {
    Capture capture;
    ImagePtr picture = view_log_picture(result, options);
    if (!picture) raise_failure(capture);
    py::array_t<uint8_t> out({static_cast<py::ssize_t>(picture->height),
                              static_cast<py::ssize_t>(picture->width), py::ssize_t{3}});
    uint8_t* o = out.mutable_data();
    const uint64_t count = uint64_t{picture->width} * picture->height;
    for (uint64_t i = 0; i < count; ++i) {
        o[3 * i] = picture->pixels[3 * i + 2];
        o[3 * i + 1] = picture->pixels[3 * i + 1];
        o[3 * i + 2] = picture->pixels[3 * i];
    }
    return out;
}

// Writes the run's output set from the names of `name`, as varlox-view would for that
// input; returns the files written.
py::list write_outputs(const std::string& name, const std::string& input, const ViewResult& result,
                       const ViewOptions& options) {
    std::string names[kViewOutputCount];
    output_names_of(name, kViewOutputs, kViewOutputCount, names);
    const int count = options.measure.acf ? kViewOutputCount : kViewMeasuringCount;
    for (int i = 0; i < count; ++i) {
        if (!input.empty() && names_input(names[i], input)) {
            throw py::value_error(names[i] + " would overwrite the input file");
        }
    }
    OutputSet outputs;
    output_table_add(outputs, kViewOutputs, count, names);
    Capture capture;
    int status = 0;
    {
        py::gil_scoped_release released;
        status = outputs_create(outputs);
        if (status == 0 &&
            (view_write(result, options, input, outputs) != 0 || outputs_commit(outputs) != 0)) {
            outputs_discard(outputs);
            status = 1;
        }
        // A program holds interrupts from its commit to its end, so that its status says
        // what became of its files; Python goes on, and a Ctrl-C held meanwhile reaches
        // its handler now.
        os_interrupts_release();
    }
    if (status != 0) raise_failure(capture);
    pass_warnings(capture.text);
    py::list files;
    for (int i = 0; i < count; ++i) files.append(names[i]);
    return files;
}

py::object measure(const py::object& source, const py::object& threads, const py::object& write,
                   const py::kwargs& keywords) {
    // The map: an array's heights, or read()'s result (a path is read first), with its
    // pixel size, unit and path.
    const bool path = py::isinstance<py::str>(source) || py::hasattr(source, "__fspath__");
    const py::object scan =
        path ? read_scan(py::str(py::module_::import("os").attr("fspath")(source)).cast<std::string>(),
                         keywords.contains("channel") ? py::object(keywords["channel"]) : py::none())
             : source;
    HeightMap map{};
    std::string input;
    py::object heights = scan;
    if (py::hasattr(scan, "heights")) {
        heights = scan.attr("heights");
        if (py::hasattr(scan, "pixel_size") && !scan.attr("pixel_size").is_none()) {
            map.dx = scan.attr("pixel_size").cast<py::tuple>()[0].cast<double>();
            map.dy = scan.attr("pixel_size").cast<py::tuple>()[1].cast<double>();
        }
        if (py::hasattr(scan, "unit") && !scan.attr("unit").is_none()) {
            map.z_unit = scan.attr("unit").cast<std::string>();
        }
        if (py::hasattr(scan, "path")) input = scan.attr("path").cast<std::string>();
    }
    const py::array_t<double, py::array::c_style> z = heights_of(heights);
    map.width = static_cast<uint32_t>(z.shape(1));
    map.height = static_cast<uint32_t>(z.shape(0));
    map.format = kHeightsPfm;  // any format but a BMP's: the run measures

    // The options, read by varlox-view's own parser.
    py::dict given;
    for (const auto& item : keywords) given[item.first] = item.second;
    if (given.contains("channel")) {
        // The channel was read above; the measurement has no use for it.
        if (!path) {
            throw py::type_error("channel is for a Gwyddion file's path, not an array");
        }
        given.attr("pop")("channel");
    }
    std::vector<std::string> line = command_line(given);
    line.emplace_back("--");
    line.emplace_back(input.empty() ? "the array" : input);
    std::vector<char*> argv;
    for (std::string& a : line) argv.push_back(&a[0]);
    ViewOptions options{};
    std::string parsed_input;
    ViewResult result;
    {
        Capture capture;
        if (view_parse(static_cast<int>(argv.size()), argv.data(), options, parsed_input) != 0) {
            raise_failure(capture);
        }
        options.measure.threads = threads_of(threads);
        // The heights: one copy, which the measurement scales, levels and windows.
        map.z = buffer_new<double>(uint64_t{map.width} * map.height);
        if (!map.z) raise_failure(capture);
        std::memcpy(map.z.get(), z.data(), sizeof(double) * map.width * map.height);
        ViewProvenance provenance{};
        if (view_prepare(map, parsed_input, options, provenance) != 0) raise_failure(capture);
        int status = 0;
        {
            py::gil_scoped_release released;
            status = view_measure(map, options.measure, result);
        }
        if (status != 0) raise_failure(capture);
        pass_warnings(capture.text);
    }

    py::dict fields;
    fields["profile"] = columns_of(written_text(kViewFull, result, options, input));
    fields["summary"] = summary_of(written_text(kViewSummary, result, options, input));
    fields["angles"] = columns_of(written_text(kViewAngles, result, options, input));
    fields["peaks"] = columns_of(written_text(kViewPeaks, result, options, input));
    fields["log_picture"] = log_picture_of(result, options);
    if (result.acf_measured) {
        fields["acf"] = columns_of(written_text(kViewAcfDecay, result, options, input), {0, 4});
        const AcfResult& a = result.acf;
        py::array_t<double> plane(
            {static_cast<py::ssize_t>(a.lags_y * 2 + 1), static_cast<py::ssize_t>(a.lags_x * 2 + 1)});
        std::memcpy(plane.mutable_data(), a.plane.get(), sizeof(double) * plane.size());
        fields["acf_plane"] = plane;
    } else {
        fields["acf"] = py::none();
        fields["acf_plane"] = py::none();
    }
    fields["files"] = py::list();
    if (!write.is_none() && !(py::isinstance<py::bool_>(write) && !write.cast<bool>())) {
        std::string name;
        if (py::isinstance<py::bool_>(write)) {
            if (input.empty())
                throw py::value_error(
                    "write=True names the files after the input's path; give write a name for an array");
            name = input;
        } else {
            name = py::str(py::module_::import("os").attr("fspath")(write)).cast<std::string>();
        }
        fields["files"] = write_outputs(name, input, result, options);
    }
    return make_namespace(fields);
}

}  // namespace

PYBIND11_MODULE(varlox, m) {
    m.doc() = R"(varlox: the exact spatial-frequency spectrum of a picture or a height map, and
varlox-view's measurements of it, on NumPy arrays.

The spectrum is the 2-D discrete Fourier transform computed term by term from its
definition (no padding, any size), centred: the zero frequency at row rows//2, column
columns//2. Its values are the programs' own bits, and every measurement equals what
varlox-view writes for the same input and options, value for value.

Conventions, as in the manual page varlox-view(1): heights are rows top-down (row 0 the
top of the picture), frequencies in cycles per side of the scan's shorter side (or per
metre with a size), directions of the wave counter-clockwise from the rightward axis in
degrees, folded into [0, 180), the psd in z^2 px^2 (z^2 m^2 with a size), lengths in
metres. Errors raise ValueError, TypeError or OSError with the program's message, and
MemoryError when memory runs out; Ctrl-C stops a transform.)";

    m.def("read", &read_scan, py::arg("path"), py::arg("channel") = py::none(),
          R"(Reads a scan in any format varlox-view reads: 24-bit BMP (grey levels as varlox makes
them), PGM (its levels as they stand, 0..65535), PFM, x3p, Gwyddion (channel: which
/K/data, default its first image) and one-channel TIFF.

Returns a namespace: heights (float64 array, rows top-down; NaN where the file has no
valid height), pixel_size ((dx, dy) in metres, or None), unit (the heights' unit, or None),
format ("bmp", "pgm", "pfm", "x3p", "gwy" or "tiff") and path.)");

    m.def("spectrum", &spectrum_of, py::arg("heights"), py::kw_only(), py::arg("threads") = 1,
          R"(The centred complex spectrum of a 2-D array of real numbers, as varlox centres it: the
heights moved by half their sides, transformed term by term (exp(-2 pi i (u r / rows +
v c / columns)), no normalising factor) and moved again, so the zero frequency sits at
[rows//2, columns//2] and phases refer to the picture's centre: in NumPy's terms
fftshift(fft2(fftshift(z))). For the grey levels of a square picture these are varlox's
planes, bit for bit, for any number of threads.

The array is read as it is when it is float64 and C-contiguous; any other real array is
converted once into such a copy. NaN or infinite values raise ValueError. The GIL is
released while the transform runs.)");

    m.def("measure", &measure, py::arg("source"), py::kw_only(), py::arg("threads") = 1,
          py::arg("write") = py::none(),
          R"(varlox-view's measurement of a height map: source is a path (read as read() reads
it), read()'s result, or a 2-D array of heights. Keywords are varlox-view's options, each
as the option's text or as Python values: level ("none", "mean", "plane"), window
("hann", "tukey:0.5" or ("tukey", 0.5)), fit and band ("8:64", "0.02:0.25/px", (8, 64) or
(0.02, 0.25, "px")), peaks, min_prominence, acf (True), acf_threshold, pixel_size (dx or
(dx, dy) in metres), length, z_scale, fill ("mean" or True), decades, gray, channel.
Every source is measured as varlox-view measures a PGM or an x3p: the psd, angles and
peaks always. threads: the transform's threads, 1 by default (the results are the same
for any number); the GIL is released while it runs.

Returns a namespace: profile (each column of NAME-full.csv as an array), summary (each
column of NAME-summary.csv: float, int, str, or None for an empty cell), angles and peaks
(NAME-angles.csv and NAME-peaks.csv by column), acf (NAME-acf.csv by column: the ring
columns as long as the rings, the direction columns 180 long) and acf_plane (the
autocorrelation over the lags, rows of lag -ly..ly top-down), None without acf,
log_picture (NAME-as-log.bmp's pixels, rows x columns x RGB, uint8) and files. With
write=True the output set of varlox-view's measuring run is written beside the input's
path, or with write=NAME named from NAME, all or nothing as the program writes it;
files lists them. The input array is not changed.)");
}
