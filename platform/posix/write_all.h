#pragma once
// The POSIX half's one write loop: writes the bytes to the descriptor, again after a signal, and
// returns how many went (fewer after an error).
#include <cstddef>
#include <string>

std::size_t WriteAll(int fd, const std::string& bytes);
