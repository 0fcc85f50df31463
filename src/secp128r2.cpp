#include "secp128r2.h"
