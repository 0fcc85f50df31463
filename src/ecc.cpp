#include "ecc.h"
