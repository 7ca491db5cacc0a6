# port_lookup
