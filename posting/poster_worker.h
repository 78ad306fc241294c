#pragma once

void StartPoster();
void StopPoster();
