/* The reference for bench_exchange_cpu: a widely used C serial-master library's RTU master reading
 * one holding register from station 1 every POLL_MS milliseconds, as a host would poll. The thread's
 * CPU time is read around every request call, as bench_exchange_cpu reads it around OnDataRead,
 * and the whole process's CPU time over the run is given too.
 *   modbus_master DEVICE SECONDS [POLL_MS]
 *   -> "exchanges <n> failed <n> cpu_us_per_exchange <x> process_cpu_us_per_exchange <x>" */
#include <errno.h>
#include <modbus.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static int64_t cpu_ns(clockid_t id) {
  struct timespec ts;
  clock_gettime(id, &ts);
  return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static double now_s(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

/* Sleeps until the absolute monotonic time next (seconds). */
static void sleep_until(double next) {
  struct timespec ts;
  ts.tv_sec = (time_t)next;
  ts.tv_nsec = (long)((next - (double)ts.tv_sec) * 1e9);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) == EINTR) {
  }
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: modbus_master DEVICE SECONDS [POLL_MS]\n");
    return 2;
  }
  const double seconds = atof(argv[2]);
  const int poll_ms = argc > 3 ? atoi(argv[3]) : 1;
  modbus_t* ctx = modbus_new_rtu(argv[1], 19200, 'N', 8, 1);
  if (ctx == NULL || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
    fprintf(stderr, "modbus_master: %s\n", modbus_strerror(errno));
    return 1;
  }
  modbus_set_response_timeout(ctx, 1, 0);
  uint16_t reg = 0;
  long exchanges = 0, failed = 0;
  int64_t cpu = 0;
  double next = now_s();
  /* Warm up: the line answers. */
  for (int i = 0; i < 2000 && modbus_read_registers(ctx, 0, 1, &reg) != 1; ++i) {
    next += poll_ms / 1000.0;
    sleep_until(next);
  }
  const int64_t process0 = cpu_ns(CLOCK_PROCESS_CPUTIME_ID);
  const double start = now_s();
  while (now_s() - start < seconds) {
    const int64_t c0 = cpu_ns(CLOCK_THREAD_CPUTIME_ID);
    const int rc = modbus_read_registers(ctx, 0, 1, &reg);
    cpu += cpu_ns(CLOCK_THREAD_CPUTIME_ID) - c0;
    if (rc == 1)
      ++exchanges;
    else
      ++failed;
    next += poll_ms / 1000.0;
    sleep_until(next);
  }
  const int64_t process = cpu_ns(CLOCK_PROCESS_CPUTIME_ID) - process0;
  const double n = exchanges > 0 ? (double)exchanges : 1.0;
  printf("exchanges %ld failed %ld cpu_us_per_exchange %.2f process_cpu_us_per_exchange %.2f\n", exchanges,
         failed, (double)cpu / 1000.0 / n, (double)process / 1000.0 / n);
  modbus_close(ctx);
  modbus_free(ctx);
  return exchanges > 0 ? 0 : 1;
}
