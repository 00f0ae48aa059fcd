// The team sizes the engine tests run on: every split a team of up to 16 threads makes, odd
// sizes included. A team may have more threads than the machine has processors.
#pragma once

#include <initializer_list>

constexpr std::initializer_list<unsigned> kTeamSizes = {1, 2, 3, 4, 5, 6, 8, 12, 16};
