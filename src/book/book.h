// book: the opening book file of 16-byte records, and its settings.
#pragma once

#include <string>

namespace varkon {

extern int book_on;              // the engine may play book moves
extern std::string book_name;    // book file name
extern int book_style;           // 1 Best, 2 Normal, 3 Risky

}  // namespace varkon
