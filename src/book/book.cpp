#include "book/book.h"

namespace varkon {

int book_on = 1;
std::string book_name = "book.dat";
int book_style = 2;

}  // namespace varkon
