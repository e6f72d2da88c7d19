-- wrk script of bench/run: every request takes a path from the file named by
-- MW_BENCH_PATHS (one path with its query a line; a path written several
-- times is asked for that much more often), chosen at random with a fixed
-- seed per thread. At the end it prints one line that bench/run reads:
--   MWRESULT requests=N duration_us=N rps=N p50_us=N p99_us=N non200=N errors=N
-- where non200 counts every answer whose status is not 200 (wrk's own
-- count lets 3xx through) and errors the connect, read, write and timeout
-- failures.

local paths = {}
local threads = {}
local thread_number = 0

local function load_paths()
  local name = os.getenv("MW_BENCH_PATHS")
  if not name then error("MW_BENCH_PATHS is not set") end
  for line in io.lines(name) do
    if line ~= "" then paths[#paths + 1] = line end
  end
  if #paths == 0 then error(name .. " has no paths") end
end

function setup(thread)
  thread_number = thread_number + 1
  thread:set("seed", thread_number)
  table.insert(threads, thread)
end

function init(args)
  load_paths()
  math.randomseed(seed or 1)
  non200 = 0
end

function request()
  return wrk.format("GET", paths[math.random(#paths)])
end

function response(status, headers, body)
  if status ~= 200 then non200 = non200 + 1 end
end

function done(summary, latency, requests)
  local bad = 0
  for _, t in ipairs(threads) do bad = bad + (t:get("non200") or 0) end
  local e = summary.errors
  local errors = e.connect + e.read + e.write + e.timeout
  io.write(string.format(
    "MWRESULT requests=%d duration_us=%d rps=%.2f p50_us=%d p99_us=%d non200=%d errors=%d\n",
    summary.requests, summary.duration, summary.requests / (summary.duration / 1e6),
    latency:percentile(50), latency:percentile(99), bad, errors))
end
