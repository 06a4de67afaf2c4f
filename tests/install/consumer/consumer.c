/* Built against the installed headers and library: prints the parameter block's size. */
#include <stdio.h>

#include "KorvelPLNK.h"

int main(void) {
  printf("%d\n", (int)GetPDBLen());
  return 0;
}
