/* The smallest program a linker makes: the resource tests rewrite it. */
void entry(void) {}
