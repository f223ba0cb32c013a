#!/usr/bin/env python3
"""A list site for shared-run trials and benchmarks: PAGES list pages /list/N of ROWS rows, each
row a link to a detail page /item/N-R. List pages are answered after DELAY milliseconds (a slow
or rate-limited server); detail pages at once. With MODE "paged", each list page links to the
next by a "Next" link and every page, details too, is answered after DELAY (a remote server).
HTTP/1.1 with keep-alive, one thread a connection.
Usage: list-site.py ADDRESS PORT [DELAY_MS] [PAGES] [ROWS] [MODE]   (PORT 0: any; the port is
printed)"""
import sys, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

address, port = sys.argv[1], int(sys.argv[2])
delay = (int(sys.argv[3]) if len(sys.argv) > 3 else 50) / 1000.0
pages = int(sys.argv[4]) if len(sys.argv) > 4 else 400
rows = int(sys.argv[5]) if len(sys.argv) > 5 else 3
paged = len(sys.argv) > 6 and sys.argv[6] == 'paged'


def page(path):
    if paged:
        time.sleep(delay)
    if path.startswith('/list/') and path[6:].isdigit() and 1 <= int(path[6:]) <= pages:
        n = int(path[6:])
        if not paged:
            time.sleep(delay)
        cells = ''.join('<tr><td><a href="/item/%d-%d">Title %d-%d</a></td></tr>' % (n, r, n, r)
                        for r in range(rows))
        nav = '<p><a href="/list/%d">Next</a></p>' % (n + 1) if paged and n < pages else ''
        return '<html><body><table>%s</table>%s</body></html>' % (cells, nav)
    if path.startswith('/item/'):
        n, _, r = path[6:].partition('-')
        if n.isdigit() and r.isdigit() and 1 <= int(n) <= pages and int(r) < rows:
            return '<html><body><p>Detail of %s</p></body></html>' % path[6:]
    return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    disable_nagle_algorithm = True  # no 40 ms wait for a delayed ACK between headers and body

    def do_GET(self):
        body = page(self.path)
        data = (body or '<html><body>missing</body></html>').encode()
        self.send_response(200 if body else 404)
        self.send_header('Content-Type', 'text/html; charset=utf-8')
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128


server = Server((address, port), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
