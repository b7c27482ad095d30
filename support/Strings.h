// The string types every unit shares.
#pragma once

#include <string>
#include <vector>

// Bytes in the system's ANSI code page (code page 936 on the target systems), or, where a routine
// says so, UTF-8 bytes.
using AnsiString = std::string;

// UTF-16 text.
using WideString = std::u16string;

// A dynamic array of ANSI strings indexed from 0.
using arStr = std::vector<AnsiString>;
