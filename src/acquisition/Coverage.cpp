#include "acquisition/Coverage.h"

// PLACEHOLDER: replaced by the real implementation.
