// The text of the programs' CSV files, built one row at a time: fields joined by commas,
// a line end after each row. Numbers are written with "%.17g", which reads back as the
// same double, with a point as the decimal mark (the program never changes the C
// locale); a number that is not there (NaN) is an empty field; text is quoted as CSV
// quotes a field that holds a comma, a double quote or a line end.
//
//   csv_number(row, value)      adds a number, or an empty field for NaN
//   csv_count(row, value)       adds a whole number
//   csv_text(row, text)         adds a text field
//   csv_empty(row)              adds an empty field
//   csv_write(file, row)        writes the row and a line end; 0, or 1 when the write
//                               failed
//   csv_write_line(file, text)  writes a line as it stands (a header) and a line end; 0,
//                               or 1 when the write failed
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct CsvRow {
    std::string text;
    int fields = 0;
};

void csv_number(CsvRow& row, double value);
void csv_count(CsvRow& row, uint64_t value);
void csv_text(CsvRow& row, const std::string& text);
void csv_empty(CsvRow& row);
int csv_write(std::FILE* file, const CsvRow& row);
int csv_write_line(std::FILE* file, const char* text);
