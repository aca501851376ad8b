#include "binary_output.h"

void SetBinaryOutput() {}
