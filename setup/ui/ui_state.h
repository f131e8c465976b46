// The page state of the setup window; drawing chooses pages and animations by it.
#pragma once

#include <cstdint>

enum class UiState : std::int32_t { Ready = 0, Working = 1, Completed = 2, Failed = 3 };
