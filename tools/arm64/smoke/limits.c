/* A C unit in the smoke test's DLL. */
#include <limits.h>
int check_limit(void) { return INT_MAX / 2; }
