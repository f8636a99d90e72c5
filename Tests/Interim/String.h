// TEMPORARY stand-in (see README.txt).
#pragma once
#include "UnicodeString.h"
