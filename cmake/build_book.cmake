# Builds the book the programs ship with, using the engine's own builder: runs VARKON in
# the directory of BOOK with the console command "build" and its four answers, and fails
# the build when the book was not written.
#
#   cmake -DVARKON=<program> -DPGN=<collection> -DBOOK=<book file> -DMIN_PLAYED=<n> -P build_book.cmake
get_filename_component(book_dir "${BOOK}" DIRECTORY)
get_filename_component(book_file "${BOOK}" NAME)
# The builder reads whitespace-separated answers: the collection is copied beside the book
# so that its answer is a plain file name, whatever the source path holds.
set(pgn_copy "${book_dir}/book-source.pgn")
configure_file("${PGN}" "${pgn_copy}" COPYONLY)
file(WRITE "${book_dir}/book-answers.txt" "build\nbook-source.pgn\n${book_file}\n${MIN_PLAYED}\n0\nquit\n")
file(REMOVE "${BOOK}")
execute_process(
  COMMAND "${VARKON}"
  INPUT_FILE "${book_dir}/book-answers.txt"
  WORKING_DIRECTORY "${book_dir}"
  OUTPUT_VARIABLE out
  RESULT_VARIABLE status)
file(REMOVE "${pgn_copy}" "${book_dir}/book-answers.txt")
string(REGEX MATCHALL "book_moves = [0-9]+" written "${out}")
if(NOT status EQUAL 0 OR NOT out MATCHES "ready!" OR out MATCHES "can't|not found|error!" OR NOT written
   OR NOT EXISTS "${BOOK}")
  file(REMOVE "${BOOK}")
  message(FATAL_ERROR "building the book failed:\n${out}")
endif()
list(GET written -1 last)
message(STATUS "${book_file}: ${last}")
