#include "acquisition/RegionDownloads.h"

// PLACEHOLDER: replaced by the real implementation.
