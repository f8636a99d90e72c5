// The C host compiled as C++: the header's declarations must hold in both languages.
#include "Consumer.c"
