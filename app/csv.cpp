#include "app/csv.h"

#include <cmath>

namespace {

// Starts a field: a comma before every field but the first.
void next_field(CsvRow& row) {
    if (row.fields++ > 0) row.text += ',';
}

}  // namespace

void csv_number(CsvRow& row, double value) {
    next_field(row);
    if (std::isnan(value)) return;
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    row.text += text;
}

void csv_count(CsvRow& row, uint64_t value) {
    next_field(row);
    row.text += std::to_string(static_cast<unsigned long long>(value));
}

void csv_text(CsvRow& row, const std::string& text) {
    next_field(row);
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        row.text += text;
        return;
    }
    row.text += '"';
    for (const char c : text) {
        if (c == '"') row.text += '"';
        row.text += c;
    }
    row.text += '"';
}

void csv_empty(CsvRow& row) {
    next_field(row);
}

int csv_write(std::FILE* file, const CsvRow& row) {
    return std::fwrite(row.text.data(), 1, row.text.size(), file) == row.text.size() &&
                   std::fputc('\n', file) != EOF
               ? 0
               : 1;
}

int csv_write_line(std::FILE* file, const char* text) {
    return std::fputs(text, file) >= 0 && std::fputc('\n', file) != EOF ? 0 : 1;
}
