% Soak test in the real host: many calls mixing every call form with every
% error, watching the resident memory of the Octave process. Memory must stay
% flat: after a warm-up, it may not grow by more than a small allowance.
%   octave-cli --no-gui --norc --no-history -q tests/octave/korvane_soak.m <module folder> [calls]
% CI makes 100000 calls (about 12 s); the long run makes 1000000.
1;

function kb = resident_kb()
  status = fileread('/proc/self/status');
  kb = str2double(regexp(status, 'VmRSS:\s*(\d+)', 'tokens', 'once'){1});
end

function failed = call_kind(kind, a, b, Q, q_wrong, b_wrong, as_int)
  % Runs one call of the given kind; returns whether it raised an error.
  failed = false;
  try
    switch kind
      case 1, C = korvane(a, b);
      case 2, C = korvane(a);
      case 3, C = korvane(a, []);
      case 4, c = korvane(a, b, Q);
      case 5, korvane(a, b);                  % no output asked
      case 6, korvane();                      % usage: no argument
      case 7, korvane(a, b, Q, Q);            % usage: four arguments
      case 8, [p, q] = korvane(a, b);         % usage: two outputs
      case 9, C = korvane(a, b_wrong);        % column lengths
      case 10, c = korvane(a, b, q_wrong);    % Q's dimensions
      case 11, C = korvane(as_int);           % not a real double
      case 12, C = korvane(a, complex(b));    % complex
      case 13, c = korvane(a, b, sparse(Q));  % sparse
    end
  catch
    failed = true;
  end
end

args = argv();
addpath(args{1});
calls = 100000;
if numel(args) >= 2
  calls = str2double(args{2});
end

rand('seed', 7);
kinds = 13;
expect_failure = [false false false false false true true true true true true true true];
warm_up = min(5000, floor(calls / 4));
progress_every = max(1, round(calls / 10));
baseline = 0;
peak = 0;
wrong = 0;
for n = 1:calls
  D = 1 + mod(n, 9);
  na = 1 + mod(n * 7, 23);
  nb = 1 + mod(n * 5, 31);
  a = rand(D, na);
  b = rand(D, nb);
  Q = rand(na, nb);
  kind = 1 + mod(n, kinds);
  if call_kind(kind, a, b, Q, rand(na, nb + 1), rand(D + 1, nb), int32(a)) ~= expect_failure(kind)
    wrong = wrong + 1;
  end
  if n == warm_up
    baseline = resident_kb();
  elseif n > warm_up && mod(n, 1000) == 0
    peak = max(peak, resident_kb());
  end
  if mod(n, progress_every) == 0
    printf('%d of %d calls, resident memory %d KB\n', n, calls, resident_kb());
    fflush(stdout);
  end
end
final = resident_kb();
peak = max(peak, final);
growth = peak - baseline;
allowance_kb = 2048;
printf('%d calls (%d wrong outcomes); resident memory after %d calls %d KB, peak after %d KB, at the end %d KB, growth %d KB (allowed %d KB)\n', ...
       calls, wrong, warm_up, baseline, peak, final, growth, allowance_kb);
if wrong > 0 || growth > allowance_kb
  printf('FAILED\n');
  exit(1);
end
