import signal

# A shell starts background jobs with SIGINT ignored, and Python then installs no handler of its
# own. The Ctrl-C tests need one, in this process and in the command-line processes they start
# (exec resets a handled signal to its default, where an ignored one would stay ignored).
signal.signal(signal.SIGINT, signal.default_int_handler)
