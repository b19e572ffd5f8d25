% Calls of korvane and korvane_smallest covering every call form, every
% message, every refused class, edge shapes, special values and calls long
% enough to run in several blocks, for the Octave tests to source: each row
% of cases is a name, the arguments, the number of outputs asked for, the
% outcome it must have where stated (ok(result) or failure(message), [] where
% only the two entry points are compared) and the function called.
1;

function C = loops_pairwise(a, b)
  % The plain loops, in the fixed order: ascending k within every entry.
  [D, na] = size(a);
  nb = size(b, 2);
  C = zeros(na, nb);
  for i = 1:na
    for j = 1:nb
      s = 0;
      for k = 1:D
        t = a(k, i) - b(k, j);
        s = s + t * t;
      end
      C(i, j) = s;
    end
  end
end

function c = loops_weighted(a, b, Q)
  [D, na] = size(a);
  nb = size(b, 2);
  c = zeros(D, 1);
  for i = 1:na
    for j = 1:nb
      w = Q(i, j);
      for k = 1:D
        t = a(k, i) - b(k, j);
        c(k) = c(k) + (w * t) * t;
      end
    end
  end
end

function ok = same_result(x, y, any_nan)
  % Bit for bit, the sign of zero included; with any_nan any NaN matches any NaN.
  ok = strcmp(class(x), class(y)) && isequal(size(x), size(y)) && isreal(x) == isreal(y);
  if ok && isa(x, 'double') && ~isempty(x)
    same = typecast(x(:), 'uint64') == typecast(y(:), 'uint64');
    if nargin > 2 && any_nan
      same = same | (isnan(x(:)) & isnan(y(:)));
    end
    ok = all(same);
  end
end

function e = ok(result)
  e = struct('result', result);
end

function e = failure(message)
  e = struct('message', message);
end

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

function outcomes = run_all(cases)
  outcomes = cell(rows(cases), 1);
  for c = 1:rows(cases)
    outcomes{c} = run_call(cases{c, 5}, cases{c, 2}, cases{c, 3});
  end
end

function ok = as_expected(outcome, expected)
  if isfield(expected, 'message')
    ok = strcmp(outcome.message, expected.message);
  else
    ok = isempty(outcome.message) && same_result(outcome.result, expected.result, true);
  end
end

usage = sprintf(['korvane: Usage: C = korvane(a,b)\n       or: C = korvane(a)\n' ...
                 '       or: c = korvane(a,b,Q)\nwhere the b matrix may be empty.']);
lengths = failure('korvane: Error: column lengths must agree');
wrongq = failure('korvane: Error: 3rd matrix argument has wrong dimensions');
notdouble = @(n, got) failure(sprintf('korvane: Error: argument %d must be a real, full double matrix (got %s)', n, got));
single_fix = 'single; convert with double(x)';
notmatrix = @(n) failure(sprintf('korvane: Error: argument %d must be a 2-D matrix', n));
toolarge = failure('korvane: Error: result matrix is too large');

rand('seed', 7);
randn('seed', 7);
a = (rand(7, 20) - 0.5) .* 10 .^ round(4 * rand(7, 20) - 2) + 1e3;
b = (rand(7, 13) - 0.5) .* 10 .^ round(4 * rand(7, 13) - 2) + 1e3;
Q = rand(20, 13) - 0.3;
Qa = rand(20, 20);
within = ok(loops_pairwise(a, a));

cases = {'a,b', {a, b}, 1, ok(loops_pairwise(a, b)); 'a', {a}, 1, within;
         'a,[]', {a, []}, 1, within; 'a,b,Q', {a, b, Q}, 1, ok(loops_weighted(a, b, Q));
         'a,[],Q', {a, [], Qa}, 1, ok(loops_weighted(a, a, Qa));
         'no output', {a, b}, 0, ok(loops_pairwise(a, b));
         'no output, weighted', {a, b, Q}, 0, ok(loops_weighted(a, b, Q))};
for D = [0 1 2 3 4 5 7 8 9 15 16 17 31 33 40 100 257 513]
  x = randn(D, 37) * 100;
  y = randn(D, 19) * 100;
  W = randn(37, 19);
  expected = {[], [], [], []};
  if D > 0 && D <= 40
    expected = {ok(loops_pairwise(x, y)), ok(loops_pairwise(x, x)), ok(loops_weighted(x, y, W)), ...
                ok(loops_pairwise(x, y(:, 1)))};
  end
  cases(end + 1, :) = {sprintf('D=%d pairwise', D), {x, y}, 1, expected{1}};
  cases(end + 1, :) = {sprintf('D=%d self', D), {x}, 1, expected{2}};
  cases(end + 1, :) = {sprintf('D=%d weighted', D), {x, y, W}, 1, expected{3}};
  cases(end + 1, :) = {sprintf('D=%d one point', D), {x, y(:, 1)}, 1, expected{4}};
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
cases(end + 1, :) = {'NaN and infinities', {x, y}, 1, ok(loops_pairwise(x, y))};
cases(end + 1, :) = {'NaN and infinities, weighted', {x, y, Q}, 1, ok(loops_weighted(x, y, Q))};
cases(end + 1, :) = {'NaN weights', {a, b, Q .* [NaN; ones(19, 1)]}, 1, []};
cases(end + 1, :) = {'overflow', {[1e200; 0], [-1e200; 0]}, 1, ok(Inf)};
cases(end + 1, :) = {'subnormal differences', {[4.9e-324 0; -0 1e-310], [0; 2.5e-323]}, 1, []};

% Every message, and the order of the checks.
cases(end + 1, :) = {'no argument', {}, 1, failure(usage)};
cases(end + 1, :) = {'four arguments', {a, b, Q, Q}, 1, failure(usage)};
cases(end + 1, :) = {'two outputs', {a, b}, 2, failure(usage)};
cases(end + 1, :) = {'two outputs, no argument', {}, 2, failure(usage)};
cases(end + 1, :) = {'column lengths', {a, ones(6, 3)}, 1, lengths};
cases(end + 1, :) = {'column lengths before Q', {a, ones(6, 3), 'x'}, 1, lengths};
cases(end + 1, :) = {'0x0 a, 3-row b', {zeros(0, 0), ones(3, 2)}, 1, lengths};
cases(end + 1, :) = {'Q transposed', {a, b, Q'}, 1, wrongq};
cases(end + 1, :) = {'Q for empty b', {a, [], Q}, 1, wrongq};
cases(end + 1, :) = {'Q 0x0 for 0x4', {zeros(3, 0), ones(3, 4), []}, 1, wrongq};
cases(end + 1, :) = {'usage before classes', {single(a), ones(2)}, 2, failure(usage)};
cases(end + 1, :) = {'argument 1 before b rows', {int8(a), ones(2, 2)}, 1, ...
                     notdouble(1, 'int8; convert with double(x)')};
% Results whose element count would wrap or not fit stop before the host
% is asked for any memory.
cases(end + 1, :) = {'0 x (2^32+1)', {zeros(0, 2^32 + 1)}, 1, toolarge};
cases(end + 1, :) = {'0 x 3e9', {zeros(0, 3e9)}, 1, toolarge};
cases(end + 1, :) = {'0 x 2^32', {zeros(0, 2^32)}, 1, toolarge};
cases(end + 1, :) = {'2^33 by 2^31', {zeros(0, 2^33), zeros(0, 2^31)}, 1, toolarge};
cases(end + 1, :) = {'column lengths before size', {zeros(0, 2^32), ones(3, 2)}, 1, lengths};
cases(end + 1, :) = {'too large, no output', {zeros(0, 2^32)}, 0, toolarge};

% Edge shapes.
cases(end + 1, :) = {'empty b of other rows', {a, zeros(9, 0)}, 1, within};
cases(end + 1, :) = {'empty char b', {a, ''}, 1, within};
cases(end + 1, :) = {'empty cell b', {a, {}}, 1, within};
cases(end + 1, :) = {'empty single b, weighted', {a, single([]), Qa}, 1, []};
cases(end + 1, :) = {'3x0 against 3x4', {zeros(3, 0), ones(3, 4)}, 1, ok(zeros(0, 4))};
cases(end + 1, :) = {'0x4 alone', {zeros(0, 4)}, 1, ok(zeros(4, 4))};
cases(end + 1, :) = {'0x0 alone', {[]}, 1, ok([])};
cases(end + 1, :) = {'1x1', {5, 2}, 1, ok(9)};
cases(end + 1, :) = {'weighted 3x0 with 0x4 Q', {zeros(3, 0), ones(3, 4), zeros(0, 4)}, 1, ...
                     ok(zeros(3, 1))};
cases(end + 1, :) = {'weighted zero weights', {a, b, zeros(20, 13)}, 1, ok(zeros(7, 1))};
cases(end + 1, :) = {'weighted 0 rows', {zeros(0, 3), zeros(0, 2), ones(3, 2)}, 1, wrongq};
% Arrays of more than two dimensions are refused, not flattened.
cases(end + 1, :) = {'trailing singletons', {reshape(a, [7 20 1 1])}, 1, within};
cases(end + 1, :) = {'empty 3-D b', {a, zeros(3, 0, 2)}, 1, within};
cases(end + 1, :) = {'3-D a', {rand(3, 4, 5)}, 1, notmatrix(1)};
cases(end + 1, :) = {'3-D b', {rand(3, 4), rand(3, 2, 2)}, 1, notmatrix(2)};
cases(end + 1, :) = {'3-D Q', {a, [], ones(20, 4, 5)}, 1, notmatrix(3)};
cases(end + 1, :) = {'class before dimensions', {single(rand(3, 4, 5))}, 1, notdouble(1, single_fix)};

% Doubles stored otherwise than as a full matrix are read as their values.
cases(end + 1, :) = {'range a', {1:5}, 1, ok(loops_pairwise(1:5, 1:5))};
cases(end + 1, :) = {'range b', {[2 4 7], 0:0.5:2}, 1, ok(loops_pairwise([2 4 7], 0:0.5:2))};
cases(end + 1, :) = {'diagonal a', {eye(4)}, 1, []};
cases(end + 1, :) = {'diagonal Q', {a(:, 1:5), [], eye(5)}, 1, []};
[~, ~, P] = lu(magic(4));
cases(end + 1, :) = {'permutation matrix', {P, magic(4)}, 1, []};
cases(end + 1, :) = {'scalar a', {3}, 1, ok(0)};
cases(end + 1, :) = {'lazy index', {find([1 0 1 1 0 1])}, 1, []};

% Every other class, in every position, naming what it is and the usual fix.
makers = {@single, single_fix; @int8, 'int8; convert with double(x)';
          @int32, 'int32; convert with double(x)'; @uint64, 'uint64; convert with double(x)';
          @(m) uint8(m > 0), 'uint8; convert with double(x)';
          @(m) m > 0, 'logical; convert with double(x)';
          @(m) char(65 + (m > 0)), 'char; for character codes use double(x)';
          @num2cell, 'cell; use cell2mat(x) or x{k}';
          @(m) struct('v', m), 'struct; pass one of its fields, x.name';
          @sparse, 'sparse; use full(x)'; @(m) complex(m, m), 'complex; use real(x) or abs(x)';
          @(m) complex(m, 0 * m), ''; @(m) {m}, '';
          @(m) @sin, 'function_handle; pass the matrix it returns, x(...)';
          @(m) sparse(m > 0), '';
          @(m) sparse(complex(m, m)), 'sparse complex; use real(full(x)) or abs(full(x))';
          @(m) containers.Map(), 'another class; pass a double matrix';
          @uint16, ''; @int64, ''; @(m) single(complex(m, m)), ''};
for p = 1:3
  for m = 1:rows(makers)
    call = {a, b, Q};
    call{p} = makers{m, 1}(call{p});
    expected = [];
    if ~isempty(makers{m, 2})
      expected = notdouble(p, makers{m, 2});
    end
    cases(end + 1, :) = {sprintf('class %d as argument %d', m, p), call, 1, expected};
  end
end

% Long enough to run in several blocks of b's columns, the last one short
% (the fewest columns a block has, with a of many points; a few points of
% many coordinates; a as b).
cases(end + 1, :) = {'blocks, D=20', {randn(20, 3000), randn(20, 2000)}, 1, []};
cases(end + 1, :) = {'blocks, D=200, shortest blocks', {randn(200, 10000), randn(200, 300)}, 1, []};
cases(end + 1, :) = {'blocks, D=1000', {randn(1000, 50), randn(1000, 3000)}, 1, []};
cases(end + 1, :) = {'blocks, self', {randn(64, 2500)}, 1, []};
% Weighted: blocks of a's points, the last one short (a as b too); and
% points whose pairs run in blocks of b's columns.
cases(end + 1, :) = {'weighted blocks, D=20', {randn(20, 3001), randn(20, 500), randn(3001, 500)}, 1, []};
cases(end + 1, :) = {'weighted blocks, a as b', {randn(3, 2000), [], randn(2000, 2000)}, 1, []};
cases(end + 1, :) = {'weighted blocks within points', {randn(1, 2), randn(1, 2e6), randn(2, 2e6)}, 1, []};
cases(end + 1, :) = {'still working after refusals', {a, b}, 1, ok(loops_pairwise(a, b))};

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
smallest(:, 4) = {[]};
smallest(:, 5) = {'korvane_smallest'};
cases(:, 5) = {'korvane'};
cases = [cases; smallest];
