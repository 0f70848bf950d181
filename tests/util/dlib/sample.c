/* A library for the dynamic-loading tests: each build answers its own
 * number. */
int tarvo_sample_answer(void) { return SAMPLE_ANSWER; }
