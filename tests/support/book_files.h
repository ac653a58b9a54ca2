// Book files and scratch directories for the book tests.
#pragma once

#include <string>
#include <vector>

#include "book/book.h"

namespace test {

// A new empty directory under the system's temporary directory.
std::string make_temp_dir();
// Removes a directory and everything below it.
void remove_tree(const std::string& path);
// Names in a directory, sorted.
std::vector<std::string> list_dir(const std::string& path);

std::string book_bytes(const std::vector<varkon::BookRecord>& records);
void write_book(const std::string& path, const std::vector<varkon::BookRecord>& records);
// The whole records of a book file, in file order.
std::vector<varkon::BookRecord> read_book(const std::string& path);
void write_bytes(const std::string& path, const std::string& bytes);
std::string read_bytes(const std::string& path);

}  // namespace test
