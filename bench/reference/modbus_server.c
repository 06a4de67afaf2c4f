/* The reference's other end: an RTU server (station 1) whose holding register 0 counts the requests,
 * so every answer carries a new value, as the module simulator's answers do for bench_exchange_cpu.
 *   modbus_server DEVICE   (runs until it is killed) */
#include <errno.h>
#include <modbus.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: modbus_server DEVICE\n");
    return 2;
  }
  modbus_t* ctx = modbus_new_rtu(argv[1], 19200, 'N', 8, 1);
  modbus_mapping_t* map = modbus_mapping_new(0, 0, 16, 0);
  if (ctx == NULL || map == NULL || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
    fprintf(stderr, "modbus_server: %s\n", modbus_strerror(errno));
    return 1;
  }
  uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  printf("READY\n");
  fflush(stdout);
  for (;;) {
    const int rc = modbus_receive(ctx, query);
    if (rc > 0) {
      ++map->tab_registers[0];
      modbus_reply(ctx, query, rc, map);
    } else if (rc == -1 && errno != EMBBADCRC && errno != ETIMEDOUT && errno != EMBBADDATA) {
      break; /* the line is gone */
    }
  }
  modbus_mapping_free(map);
  modbus_close(ctx);
  modbus_free(ctx);
  return 0;
}
