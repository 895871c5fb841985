// The command layer's bus glue for the Vantor program: its context is the bus (radio_bus.h). A
// program that also holds the node's firmware (a test) routes the calls by their context instead.
#include "radio_bus.h"

// The command layer's bus glue: its context is the bus.
extern "C" {

llcc68_hal_status_t llcc68_hal_write(const void* context, const uint8_t* command, uint16_t command_length,
                                     const uint8_t* data, uint16_t data_length) {
  return static_cast<const vantor::RadioBus*>(context)->write(command, command_length, data, data_length);
}

llcc68_hal_status_t llcc68_hal_read(const void* context, const uint8_t* command, uint16_t command_length, uint8_t* data,
                                    uint16_t data_length) {
  return static_cast<const vantor::RadioBus*>(context)->read(command, command_length, data, data_length);
}

llcc68_hal_status_t llcc68_hal_reset(const void* context) {
  return static_cast<const vantor::RadioBus*>(context)->reset();
}

llcc68_hal_status_t llcc68_hal_wakeup(const void* context) {
  return static_cast<const vantor::RadioBus*>(context)->wakeup();
}

}  // extern "C"
