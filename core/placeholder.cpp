// placeholder until the core services land
