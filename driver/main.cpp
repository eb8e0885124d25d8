// wavproc: one waveform record per run, processed through a question-and-answer dialogue.
#include "driver/driver.h"

int main() { wavproc::run(); }
