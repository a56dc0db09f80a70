# A server that takes every connection on 127.0.0.1 and never answers, as a stalled network
# does. Writes its port to PORT_FILE once it listens, and one line per connection it has taken
# to ACCEPTED_FILE. Runs until it is ended.
#   python3 silent_server.py PORT_FILE ACCEPTED_FILE
import os
import socket
import sys

port_file, accepted_file = sys.argv[1], sys.argv[2]
server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.bind(("127.0.0.1", 0))
server.listen(64)
with open(port_file + ".tmp", "w") as out:
    out.write(str(server.getsockname()[1]))
os.replace(port_file + ".tmp", port_file)
held = []  # kept open: a closed connection would be an answer
while True:
    connection, _ = server.accept()
    held.append(connection)
    with open(accepted_file, "a") as out:
        out.write("accepted\n")
