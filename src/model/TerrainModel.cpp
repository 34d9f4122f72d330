#include "model/TerrainModel.h"

// PLACEHOLDER: replaced by the real implementation.
