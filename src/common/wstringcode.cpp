// The wide string's code, instantiated here and built without exceptions
// like the rest of the launcher. The C++ library's own copy is built with
// them and would bring the whole exception runtime into the program.
#include <string>

template class std::basic_string<wchar_t>;
