# watchdog
