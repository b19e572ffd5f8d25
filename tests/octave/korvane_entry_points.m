% The two Octave entry points, korvane.mex and korvane.oct (and those of
% korvane_smallest), side by side: a set of calls covering every call form,
% every message, every refused class, edge shapes, special values and calls
% long enough to run in several blocks goes through each, and the outcomes
% must be the same to the bit (results) and to the byte (messages and
% identifiers).
%   octave-cli --no-gui --norc --no-history -q tests/octave/korvane_entry_points.m <mex folder> <oct folder>
1;

function outcome = run_call(name, args, nout)
  % The results' classes, sizes and bits, or the error's message and
  % identifier; with no output asked, what ans holds.
  outcome = struct('result', [], 'second', [], 'message', '', 'identifier', '');
  try
    switch nout
      case 0
        feval(name, args{:});
        outcome.result = ans;
      case 1
        outcome.result = feval(name, args{:});
      case 2
        [outcome.result, outcome.second] = feval(name, args{:});
      otherwise
        [p, q, r] = feval(name, args{:});
    end
  catch err
    outcome.message = err.message;
    outcome.identifier = err.identifier;
  end
end

function ok = same_result(x, y)
  ok = strcmp(class(x), class(y)) && isequal(size(x), size(y)) && isreal(x) == isreal(y);
  if ok && isa(x, 'double') && ~isempty(x)
    ok = isequal(typecast(x(:), 'uint64'), typecast(y(:), 'uint64'));
  end
end

function ok = same_outcome(x, y)
  ok = strcmp(x.message, y.message) && strcmp(x.identifier, y.identifier) ...
       && same_result(x.result, y.result) && same_result(x.second, y.second);
end

function outcomes = run_all(cases)
  % A fourth column, when present, names the function called (korvane otherwise).
  outcomes = cell(size(cases, 1), 1);
  for c = 1:size(cases, 1)
    name = 'korvane';
    if size(cases, 2) >= 4 && ~isempty(cases{c, 4})
      name = cases{c, 4};
    end
    outcomes{c} = run_call(name, cases{c, 2}, cases{c, 3});
  end
end

args = argv();
if numel(args) < 2
  error('usage: korvane_entry_points.m <mex folder> <oct folder>');
end
mex_folder = args{1};
oct_folder = args{2};

rand('seed', 11);
randn('seed', 11);
a = (rand(7, 20) - 0.5) .* 10 .^ round(4 * rand(7, 20) - 2) + 1e3;
b = (rand(7, 13) - 0.5) .* 10 .^ round(4 * rand(7, 13) - 2) + 1e3;
Q = rand(20, 13) - 0.3;
Qa = rand(20, 20);

% Each case: a name, the arguments and the number of outputs asked for.
cases = {'a,b', {a, b}, 1; 'a', {a}, 1; 'a,[]', {a, []}, 1; 'a,b,Q', {a, b, Q}, 1;
         'a,[],Q', {a, [], Qa}, 1; 'no output', {a, b}, 0; 'no output, weighted', {a, b, Q}, 0};
for D = [0 1 2 3 4 5 7 8 9 15 16 17 31 33 40 100 257 513]
  x = randn(D, 37) * 100;
  y = randn(D, 19) * 100;
  W = randn(37, 19);
  cases(end + 1, :) = {sprintf('D=%d pairwise', D), {x, y}, 1};
  cases(end + 1, :) = {sprintf('D=%d self', D), {x}, 1};
  cases(end + 1, :) = {sprintf('D=%d weighted', D), {x, y, W}, 1};
  cases(end + 1, :) = {sprintf('D=%d one point', D), {x, y(:, 1)}, 1};
end

% Special values: NaN, infinities, signed zeros, subnormals, overflow.
x = a;
x(3, 5) = NaN;
x(1, 2) = Inf;
x(2, 7) = -Inf;
x(4, 9) = -0;
y = b;
y(1, 4) = Inf;
y(5, 6) = 4.9e-324;
y(6, 1) = NaN;
cases(end + 1, :) = {'NaN and infinities', {x, y}, 1};
cases(end + 1, :) = {'NaN and infinities, weighted', {x, y, Q}, 1};
cases(end + 1, :) = {'NaN weights', {a, b, Q .* [NaN; ones(19, 1)]}, 1};
cases(end + 1, :) = {'overflow', {[1e200; 0], [-1e200; 0]}, 1};
cases(end + 1, :) = {'subnormal differences', {[4.9e-324 0; -0 1e-310], [0; 2.5e-323]}, 1};

% Every message, and the order of the checks.
cases(end + 1, :) = {'no argument', {}, 1};
cases(end + 1, :) = {'four arguments', {a, b, Q, Q}, 1};
cases(end + 1, :) = {'two outputs', {a, b}, 2};
cases(end + 1, :) = {'two outputs, no argument', {}, 2};
cases(end + 1, :) = {'column lengths', {a, ones(6, 3)}, 1};
cases(end + 1, :) = {'column lengths before Q', {a, ones(6, 3), 'x'}, 1};
cases(end + 1, :) = {'0x0 a, 3-row b', {zeros(0, 0), ones(3, 2)}, 1};
cases(end + 1, :) = {'Q transposed', {a, b, Q'}, 1};
cases(end + 1, :) = {'Q for empty b', {a, [], Q}, 1};
cases(end + 1, :) = {'Q 0x0 for 0x4', {zeros(3, 0), ones(3, 4), []}, 1};
cases(end + 1, :) = {'usage before classes', {single(a), ones(2)}, 2};
cases(end + 1, :) = {'argument 1 before b rows', {int8(a), ones(2, 2)}, 1};
cases(end + 1, :) = {'0 x (2^32+1)', {zeros(0, 2^32 + 1)}, 1};
cases(end + 1, :) = {'0 x 2^32', {zeros(0, 2^32)}, 1};
cases(end + 1, :) = {'2^33 by 2^31', {zeros(0, 2^33), zeros(0, 2^31)}, 1};
cases(end + 1, :) = {'column lengths before size', {zeros(0, 2^32), ones(3, 2)}, 1};
cases(end + 1, :) = {'too large, no output', {zeros(0, 2^32)}, 0};

% Edge shapes.
cases(end + 1, :) = {'empty b of other rows', {a, zeros(9, 0)}, 1};
cases(end + 1, :) = {'empty char b', {a, ''}, 1};
cases(end + 1, :) = {'empty cell b', {a, {}}, 1};
cases(end + 1, :) = {'empty single b, weighted', {a, single([]), Qa}, 1};
cases(end + 1, :) = {'3x0 against 3x4', {zeros(3, 0), ones(3, 4)}, 1};
cases(end + 1, :) = {'0x4 alone', {zeros(0, 4)}, 1};
cases(end + 1, :) = {'0x0 alone', {[]}, 1};
cases(end + 1, :) = {'1x1', {5, 2}, 1};
cases(end + 1, :) = {'weighted 3x0 with 0x4 Q', {zeros(3, 0), ones(3, 4), zeros(0, 4)}, 1};
cases(end + 1, :) = {'weighted 0 rows', {zeros(0, 3), zeros(0, 2), ones(3, 2)}, 1};
cases(end + 1, :) = {'trailing singletons', {reshape(a, [7 20 1 1])}, 1};
cases(end + 1, :) = {'empty 3-D b', {a, zeros(3, 0, 2)}, 1};
cases(end + 1, :) = {'3-D a', {rand(3, 4, 5)}, 1};
cases(end + 1, :) = {'3-D b', {rand(3, 4), rand(3, 2, 2)}, 1};
cases(end + 1, :) = {'3-D Q', {a, [], ones(20, 4, 5)}, 1};
cases(end + 1, :) = {'class before dimensions', {single(rand(3, 4, 5))}, 1};

% Doubles stored otherwise than as a full matrix are read as their values.
cases(end + 1, :) = {'range a', {1:5}, 1};
cases(end + 1, :) = {'range b', {[2 4 7], 0:0.5:2}, 1};
cases(end + 1, :) = {'diagonal a', {eye(4)}, 1};
cases(end + 1, :) = {'diagonal Q', {a(:, 1:5), [], eye(5)}, 1};
[~, ~, P] = lu(magic(4));
cases(end + 1, :) = {'permutation matrix', {P, magic(4)}, 1};
cases(end + 1, :) = {'scalar a', {3}, 1};
cases(end + 1, :) = {'lazy index', {find([1 0 1 1 0 1])}, 1};

% Every other class, in every position.
makers = {@single, @int8, @int32, @uint64, @(m) uint8(m > 0), @(m) m > 0, ...
          @(m) char(65 + (m > 0)), @num2cell, @(m) struct('v', m), @sparse, ...
          @(m) complex(m, m), @(m) complex(m, 0 * m), @(m) {m}, @(m) @sin, @(m) sparse(m > 0), ...
          @(m) sparse(complex(m, m)), @(m) containers.Map(), @uint16, @int64, @(m) single(complex(m, m))};
for p = 1:3
  for m = 1:numel(makers)
    call = {a, b, Q};
    call{p} = makers{m}(call{p});
    cases(end + 1, :) = {sprintf('class %d as argument %d', m, p), call, 1};
  end
end

% Long enough to run in several blocks of b's columns, the last one short
% (the fewest columns a block has, with a of many points; a few points of
% many coordinates; a as b).
cases(end + 1, :) = {'blocks, D=20', {randn(20, 3000), randn(20, 2000)}, 1};
cases(end + 1, :) = {'blocks, D=200, shortest blocks', {randn(200, 10000), randn(200, 300)}, 1};
cases(end + 1, :) = {'blocks, D=1000', {randn(1000, 50), randn(1000, 3000)}, 1};
cases(end + 1, :) = {'blocks, self', {randn(64, 2500)}, 1};
% Weighted: blocks of a's points, the last one short (a as b too); and
% points whose pairs run in blocks of b's columns.
cases(end + 1, :) = {'weighted blocks, D=20', {randn(20, 3001), randn(20, 500), randn(3001, 500)}, 1};
cases(end + 1, :) = {'weighted blocks, a as b', {randn(3, 2000), [], randn(2000, 2000)}, 1};
cases(end + 1, :) = {'weighted blocks within points', {randn(1, 2), randn(1, 2e6), randn(2, 2e6)}, 1};

% korvane_smallest: both outputs and one, every message, several blocks.
x = round(4 * randn(5, 700));
y = round(4 * randn(5, 90));
x(2, 3) = NaN;
y(1, 7) = Inf;
smallest = {'k=10', {x, y, 10}, 2; 'k=10, d only', {x, y, 10}, 1; 'no output', {x, y, 3}, 0;
            'k past na', {x, [], 1000}, 2; 'k=0', {x, y, 0}, 2; 'D=0', {zeros(0, 30), [], 4}, 2;
            'usage', {x, y}, 1; 'three outputs', {x, y, 1}, 3; 'lengths', {x, ones(2, 2), 1}, 1;
            'class of a', {single(x), y, 1}, 1; 'k negative', {x, y, -1}, 2;
            'k fraction', {x, y, 2.5}, 1; 'k int8', {x, y, int8(2)}, 1;
            'too large', {zeros(0, 2^32), [], 2^32}, 1;
            'indices', {zeros(0, 2^53 + 2), [], 1}, 2};
smallest(:, 4) = {'korvane_smallest'};
cases(:, 4) = {''};
cases = [cases; smallest];

addpath(mex_folder);
mex_module = which('korvane');
mex_smallest = which('korvane_smallest');
mex_outcomes = run_all(cases);
rmpath(mex_folder);
addpath(oct_folder);
oct_module = which('korvane');
oct_smallest = which('korvane_smallest');
oct_outcomes = run_all(cases);

failed = 0;
if isempty(regexp(mex_module, 'korvane\.mex$', 'once')) ...
   || isempty(regexp(oct_module, 'korvane\.oct$', 'once')) ...
   || isempty(regexp(mex_smallest, 'korvane_smallest\.mex$', 'once')) ...
   || isempty(regexp(oct_smallest, 'korvane_smallest\.oct$', 'once'))
  printf('FAILED: the entry points are %s, %s, %s and %s\n', mex_module, oct_module, ...
         mex_smallest, oct_smallest);
  failed = failed + 1;
end
for c = 1:size(cases, 1)
  if ~same_outcome(mex_outcomes{c}, oct_outcomes{c})
    printf('FAILED: %s: MEX module "%s", oct-file "%s"\n', cases{c, 1}, ...
           mex_outcomes{c}.message, oct_outcomes{c}.message);
    failed = failed + 1;
  end
end
printf('%d cases, %d differ\n', size(cases, 1), failed);
if failed > 0
  exit(1);
end
