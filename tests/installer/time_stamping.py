# A time-stamping authority on 127.0.0.1 for the signing test: each request
# answered by openssl ts with the test's own TSA certificate. Prints its port.
# Usage: time_stamping.py FOLDER (holding tsa.cnf, as signing_test.sh makes it)
import http.server, subprocess, sys, os
folder = sys.argv[1]
class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = os.path.join(folder, "query.tsq")
        with open(query, "wb") as f:
            f.write(self.rfile.read(int(self.headers["Content-Length"])))
        answer = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(folder, "tsa.cnf"),
                                 "-queryfile", query], capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)
    def log_message(self, *args): pass
server = http.server.HTTPServer(("127.0.0.1", 0), Reply)
print(server.server_address[1], flush=True)
server.serve_forever()
