#include "posting/poster_worker.h"

void StartPoster() {}
void StopPoster() {}
