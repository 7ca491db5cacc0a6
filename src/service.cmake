# service
