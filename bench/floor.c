/* The floor of the end-to-end benchmark: the least a CGI program can do.
 * It prints a fixed response of about the size of a small page and exits,
 * so that every figure of bench/run can be given as a ratio to what merely
 * starting a process costs on the same machine in the same run. */
#include <stdio.h>

int main(void) {
  fputs(
      "Content-Type: text/html; charset=Shift_JIS\r\n\r\n"
      "<!DOCTYPE html>\n<html><head><title>floor</title></head>\n"
      "<body><p>MirelWeb benchmark floor</p></body></html>\n",
      stdout);
  return 0;
}
