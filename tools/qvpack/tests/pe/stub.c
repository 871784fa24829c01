/* A stand-in for the setup program: an address to relocate, so that the
   linker puts .reloc after the resources as it does in the real one. */
static int value;
int *where = &value;
void entry(void) {}
