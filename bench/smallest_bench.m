% korvane_smallest against what a user would write instead, end to end in one
% Octave session, one core: korvane(a,b) alone (the full matrix, no
% selection), the sort idiom [s,p] = sort(korvane(a,b)); s(1:k,:), and for
% k = 1 min(korvane(a,b)). korvane_smallest is asked for both outputs.
% Contenders take turns within each round and each figure is the median of
% its rounds in CPU time (one thread throughout), so that a shared machine's
% load falls on all of them alike; the sort idiom, seconds a run, is timed
% in two rounds only. The first round measures memory, not time: the growth
% of the session's peak resident size during one call of each (Linux:
% VmHWM, reset through /proc/self/clear_refs), against the limit
% 2*8*k*n_b bytes + 16 MB for korvane_smallest.
%   octave-cli --no-gui --norc --no-history -q bench/smallest_bench.m build
1;

function kb = status_kb(field)
  text = fileread('/proc/self/status');
  kb = str2double(regexp(text, [field ':\s*(\d+)'], 'tokens', 'once'){1});
end

% Peak resident growth in MB during f(), Linux only (NaN elsewhere).
function mb = peak_growth(f)
  mb = NaN;
  fid = fopen('/proc/self/clear_refs', 'w');
  if fid < 0
    f();
    return;
  end
  fprintf(fid, '5');
  fclose(fid);
  before = status_kb('VmRSS');
  f();
  mb = (status_kb('VmHWM') - before) / 1024;
end

function smallest_call(a, b, k)
  [d, i] = korvane_smallest(a, b, k);
end

function sort_idiom(a, b, k)
  [s, p] = sort(korvane(a, b), 1);
  d = s(1:k, :);
  i = p(1:k, :);
end

function min_idiom(a, b)
  [d, i] = min(korvane(a, b), [], 1);
end

function full_matrix(a, b)
  C = korvane(a, b);
end

args = argv();
build = 'build';
if numel(args) >= 1
  build = args{1};
end
addpath(build);
[~, cpu] = system('lscpu | sed -n "s/^\(Model name\|CPU family\|Model\):[[:space:]]*//p" | paste -sd" "');
printf('CPU: %s (family, model); CPU-time medians on a shared machine\n', strtrim(cpu));

ks = [1 10 100];
% D, n_a, n_b, and whether the full-matrix contenders run.
shapes = [3 60000 2000 1; 16 20000 2000 1; 128 20000 500 1; 3 1000000 100 0];
rounds = 5;
for s = 1:rows(shapes)
  D = shapes(s, 1); na = shapes(s, 2); nb = shapes(s, 3);
  rand('seed', s);
  a = rand(D, na);
  b = rand(D, nb);
  full = shapes(s, 4);
  % Contenders: korvane_smallest for each k, then korvane, min and sort.
  fs = arrayfun(@(k) @() smallest_call(a, b, k), ks, 'UniformOutput', false);
  names = arrayfun(@(k) sprintf('smallest k=%d', k), ks, 'UniformOutput', false);
  if full
    fs(end + 1:end + 3) = {@() full_matrix(a, b), @() min_idiom(a, b), @() sort_idiom(a, b, 100)};
    names(end + 1:end + 3) = {'korvane(a,b)', 'min', 'sort idiom'};
  end
  times = NaN(rounds, numel(fs));
  peaks = NaN(1, numel(fs));
  for r = 1:rounds
    for f = 1:numel(fs)
      if strcmp(names{f}, 'sort idiom') && r > 3
        continue;
      end
      if r == 1
        peaks(f) = peak_growth(fs{f});
        continue;                     % the first round only measures memory
      end
      start = cputime();
      fs{f}();
      times(r, f) = cputime() - start;
    end
  end
  t = zeros(1, numel(fs));
  for f = 1:numel(fs)
    t(f) = median(times(~isnan(times(:, f)), f));
  end

  printf('\nD=%d, n_a=%d, n_b=%d (medians of %d timed rounds; sort idiom 2)\n', D, na, nb, ...
         rounds - 1);
  printf('  %-14s %9s %9s %10s %11s %10s %10s\n', 'contender', 'time', 'peak', 'limit', ...
         'x korvane', 'sort / it', 'min / it');
  for f = 1:numel(fs)
    fields = {'', '', '', ''};
    if f <= numel(ks)
      fields{1} = sprintf('%8.1fMB', (2 * 8 * ks(f) * nb) / 2^20 + 16);
      if full
        fields{2} = sprintf('%10.2fx', t(f) / t(numel(ks) + 1));
        fields{3} = sprintf('%9.1fx', t(end) / t(f));
        if ks(f) == 1
          fields{4} = sprintf('%9.2fx', t(numel(ks) + 2) / t(f));
        end
      end
    end
    printf('  %-14s %7.1fms %7.1fMB %10s %11s %10s %10s\n', names{f}, 1e3 * t(f), peaks(f), ...
           fields{:});
  end
end
