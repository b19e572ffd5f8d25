% End-to-end tests of the korvane module in GNU Octave. Run from the build
% folder's parent with the module on the path:
%   octave-cli --no-gui --norc --no-history -q tests/octave/korvane_host_tests.m <module folder> [oct|mex]
% With oct or mex, korvane must be that file (Octave prefers korvane.oct to a
% korvane.mex beside it).
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

function ok = same_bits(x, y)
  % Bit for bit, the sign of zero included; any NaN matches any NaN.
  ok = isequal(size(x), size(y)) && strcmp(class(x), class(y)) && isreal(x);
  if ok && ~isempty(x)
    same = typecast(x(:), 'uint64') == typecast(y(:), 'uint64');
    ok = all(same | (isnan(x(:)) & isnan(y(:))));
  end
end

function msg = error_of(f)
  msg = '';
  try
    f();
  catch err
    msg = err.message;
  end
end

function two_outputs(varargin)
  [p, q] = korvane(varargin{:});
end

function check(name, condition)
  global passed failed
  if condition
    passed = passed + 1;
  else
    failed = failed + 1;
    printf('FAILED: %s\n', name);
  end
end

global passed failed
passed = 0;
failed = 0;
args = argv();
if numel(args) >= 1
  addpath(args{1});
end
if numel(args) >= 2
  check(sprintf('korvane is korvane.%s', args{2}), ...
        ~isempty(regexp(which('korvane'), ['korvane\.' args{2} '$'], 'once')));
end

usage = sprintf(['korvane: Usage: C = korvane(a,b)\n       or: C = korvane(a)\n' ...
                 '       or: c = korvane(a,b,Q)\nwhere the b matrix may be empty.']);
lengths = 'korvane: Error: column lengths must agree';
wrongq = 'korvane: Error: 3rd matrix argument has wrong dimensions';
notdouble = @(n, got) sprintf('korvane: Error: argument %d must be a real, full double matrix (got %s)', n, got);
single_fix = 'single; convert with double(x)';
notmatrix = @(n) sprintf('korvane: Error: argument %d must be a 2-D matrix', n);
toolarge = 'korvane: Error: result matrix is too large';

rand('seed', 7);
a = (rand(7, 20) - 0.5) .* 10 .^ round(4 * rand(7, 20) - 2) + 1e3;
b = (rand(7, 13) - 0.5) .* 10 .^ round(4 * rand(7, 13) - 2) + 1e3;
Q = rand(20, 13) - 0.3;

% The three call forms, bit for bit against the plain loops.
check('korvane(a,b)', same_bits(korvane(a, b), loops_pairwise(a, b)));
check('korvane(a)', same_bits(korvane(a), loops_pairwise(a, a)));
check('korvane(a,[]) is korvane(a)', same_bits(korvane(a, []), korvane(a)));
check('korvane(a,b,Q)', same_bits(korvane(a, b, Q), loops_weighted(a, b, Q)));
Qa = rand(20, 20);
check('korvane(a,[],Q)', same_bits(korvane(a, [], Qa), loops_weighted(a, a, Qa)));
for D = [1 2 3 8 9 17 40]
  x = randn(D, 11) * 100;
  y = randn(D, 6) * 100;
  check(sprintf('pairwise D=%d', D), same_bits(korvane(x, y), loops_pairwise(x, y)));
  W = randn(11, 6);
  check(sprintf('weighted D=%d', D), same_bits(korvane(x, y, W), loops_weighted(x, y, W)));
end
C = korvane(a);
check('symmetric with zero diagonal', isequal(C, C') && all(diag(C) == 0));
korvane(a, b);
check('no output asked still gives ans', same_bits(ans, loops_pairwise(a, b)));

% NaN, infinities and overflow.
x = a;
x(3, 5) = NaN;
x(1, 2) = Inf;
y = b;
y(1, 4) = Inf;
C = korvane(x, y);
check('NaN row', all(isnan(C(5, :))));
check('inf - inf is NaN', isnan(C(2, 4)));
check('inf against finite', C(2, 1) == Inf);
check('NaN and inf against loops', same_bits(C, loops_pairwise(x, y)));
check('overflow gives +Inf', korvane([1e200; 0], [-1e200; 0]) == Inf);

% Messages, as Octave shows them.
check('no argument', strcmp(error_of(@() korvane()), usage));
check('four arguments', strcmp(error_of(@() korvane(a, b, Q, Q)), usage));
check('two outputs', strcmp(error_of(@() two_outputs(a, b)), usage));
check('column lengths', strcmp(error_of(@() korvane(a, ones(6, 3))), lengths));
check('column lengths before Q', strcmp(error_of(@() korvane(a, ones(6, 3), 'x')), lengths));
check('0x0 a, 3-row b', strcmp(error_of(@() korvane(zeros(0, 0), ones(3, 2))), lengths));
check('Q transposed', strcmp(error_of(@() korvane(a, b, Q')), wrongq));
check('Q for empty b', strcmp(error_of(@() korvane(a, [], Q)), wrongq));
check('Q 0x0 for 0x4 result', strcmp(error_of(@() korvane(zeros(3, 0), ones(3, 4), [])), wrongq));
check('usage before classes', strcmp(error_of(@() two_outputs(single(a), ones(2))), usage));
check('argument 1 before b rows', strcmp(error_of(@() korvane(int8(a), ones(2, 2))), notdouble(1, 'int8; convert with double(x)')));

% Edge shapes.
check('empty b of other rows', same_bits(korvane(a, zeros(9, 0)), korvane(a)));
check('empty char b', same_bits(korvane(a, ''), korvane(a)));
check('empty cell b', same_bits(korvane(a, {}), korvane(a)));
check('3x0 against 3x4', isequal(size(korvane(zeros(3, 0), ones(3, 4))), [0 4]));
check('0x4 alone', same_bits(korvane(zeros(0, 4)), zeros(4, 4)));
check('0x0 alone', isequal(size(korvane([])), [0 0]));
check('weighted 3x0 with 0x4 Q', same_bits(korvane(zeros(3, 0), ones(3, 4), zeros(0, 4)), zeros(3, 1)));
check('weighted zero weights', same_bits(korvane(a, b, zeros(20, 13)), zeros(7, 1)));

% Every argument that is not a real, full double matrix is refused, naming
% what it is and the usual fix.
refused = {@single, single_fix; @int32, 'int32; convert with double(x)';
           @(m) uint8(m > 0), 'uint8; convert with double(x)';
           @(m) m > 0, 'logical; convert with double(x)';
           @(m) char(65 + (m > 0)), 'char; for character codes use double(x)';
           @num2cell, 'cell; use cell2mat(x) or x{k}';
           @(m) struct('v', m), 'struct; pass one of its fields, x.name';
           @(m) @sin, 'function_handle; pass the matrix it returns, x(...)';
           @(m) containers.Map(), 'another class; pass a double matrix';
           @sparse, 'sparse; use full(x)'; @(m) complex(m, m), 'complex; use real(x) or abs(x)';
           @(m) sparse(complex(m, m)), 'sparse complex; use real(full(x)) or abs(full(x))'};
for p = 1:3
  for m = 1:rows(refused)
    call = {a, b, Q};
    call{p} = refused{m, 1}(call{p});
    msg = error_of(@() korvane(call{:}));
    check(sprintf('refusal of %s as argument %d', refused{m, 2}, p), strcmp(msg, notdouble(p, refused{m, 2})));
  end
end
% Arrays of more than two dimensions are refused, not flattened.
check('3-D a', strcmp(error_of(@() korvane(rand(3, 4, 5))), notmatrix(1)));
check('3-D b', strcmp(error_of(@() korvane(rand(3, 4), rand(3, 2, 2))), notmatrix(2)));
check('3-D Q', strcmp(error_of(@() korvane(a, [], ones(20, 4, 5))), notmatrix(3)));
check('class before dimensions', strcmp(error_of(@() korvane(single(rand(3, 4, 5)))), notdouble(1, single_fix)));
check('trailing singletons', same_bits(korvane(reshape(a, [7 20 1 1])), korvane(a)));
check('empty 3-D b stands for a', same_bits(korvane(a, zeros(3, 0, 2)), korvane(a)));

% Results whose element count would wrap or not fit stop before the host
% is asked for any memory.
check('0 x (2^32+1)', strcmp(error_of(@() korvane(zeros(0, 2^32 + 1))), toolarge));
check('0 x 3e9', strcmp(error_of(@() korvane(zeros(0, 3e9))), toolarge));
check('0 x 2^32', strcmp(error_of(@() korvane(zeros(0, 2^32))), toolarge));
check('2^33 by 2^31', strcmp(error_of(@() korvane(zeros(0, 2^33), zeros(0, 2^31))), toolarge));
check('column lengths before size', ...
      strcmp(error_of(@() korvane(zeros(0, 2^32), ones(3, 2))), lengths));

check('still working after refusals', same_bits(korvane(a, b), loops_pairwise(a, b)));

% korvane_smallest: exactly the first rows of the sort idiom, to the bit,
% over shapes on both sides of its blocks (64 rows, 256 columns), ties,
% NaN, Inf, k past n_a, k = 0 and an empty b; both outputs and one.
if numel(args) >= 2
  check(sprintf('korvane_smallest is korvane_smallest.%s', args{2}), ...
        ~isempty(regexp(which('korvane_smallest'), ['korvane_smallest\.' args{2} '$'], 'once')));
end
shapes = [3 1 1; 3 300 40; 1 65 257; 7 600 300; 0 9 4; 5 2000 3; 2 31 1];
for s = 1:rows(shapes)
  [D, na, nb] = deal(shapes(s, 1), shapes(s, 2), shapes(s, 3));
  x = round(8 * randn(D, na)) / 4;
  y = round(8 * randn(D, nb)) / 4;
  if D > 0 && na > 20 && nb > 2
    x(1, [5 9]) = [NaN Inf];
    x(D, na) = -Inf;
    y(1, 2) = NaN;
    y(D, nb) = Inf;
  end
  for b_is_a = [false true]
    if b_is_a
      y = [];
    end
    [sorted, order] = sort(korvane(x, y), 1);
    for k = unique([0 1 2 10 63 64 65 100 na na + 3])
      n = min(k, na);
      name = sprintf('smallest D=%d na=%d nb=%d k=%d b=a %d', D, na, nb, k, b_is_a);
      [d, i] = korvane_smallest(x, y, k);
      check(name, same_bits(d, sorted(1:n, :)) && isequal(i, order(1:n, :)));
      check([name ', d only'], same_bits(korvane_smallest(x, y, k), sorted(1:n, :)));
    end
  end
end
check('smallest 3x0 a', isequal(size(korvane_smallest(zeros(3, 0), ones(3, 4), 2)), [0 4]));
check('smallest no b points', isequal(size(korvane_smallest(a, zeros(7, 0), 2)), [2 20]));
check('smallest k of 1e300', same_bits(korvane_smallest(a, b, 1e300), sort(korvane(a, b))));
korvane_smallest(a, b, 2);
check('smallest no output gives ans', same_bits(ans, korvane_smallest(a, b, 2)));
smallest_usage = sprintf(['korvane_smallest: Usage: d = korvane_smallest(a,b,k)\n' ...
                          '       or: [d,i] = korvane_smallest(a,b,k)\n' ...
                          'where the b matrix may be empty.']);
badk = 'korvane_smallest: Error: k must be a non-negative integer-valued real double scalar';
check('smallest usage', strcmp(error_of(@() korvane_smallest(a, b)), smallest_usage));
check('smallest lengths', strcmp(error_of(@() korvane_smallest(a, ones(6, 3), -1)), ...
                                 strrep(lengths, 'korvane:', 'korvane_smallest:')));
for k = {-1, 0.5, NaN, Inf, [1 2], [], single(2), int32(2), 2i, sparse(2), true, '2', {2}}
  check(sprintf('smallest refuses k %s', disp(k{1})), ...
        strcmp(error_of(@() korvane_smallest(a, b, k{1})), badk));
end
% Blocks of b's columns in parcellfun's processes give one call's bits.
if ~isempty(pkg('list', 'parallel'))
  pkg load parallel
  x = round(8 * randn(4, 3000)) / 4;
  y = randn(4, 700);
  blocks = mat2cell(y, 4, [100 250 1 349]);
  run_block = @(bj) [{getpid()}, nthargout(1:2, @korvane_smallest, x, bj, 7)];
  parts = parcellfun(2, run_block, blocks, 'UniformOutput', false, 'VerboseLevel', 0);
  parts = vertcat(parts{:});
  [d, i] = korvane_smallest(x, y, 7);
  check('smallest in processes', same_bits([parts{:, 2}], d) && isequal([parts{:, 3}], i));
  check('smallest ran in other processes', all([parts{:, 1}] ~= getpid()));
else
  printf('the parallel package is not installed: korvane_smallest in processes not tested\n');
end
check('smallest too large', strcmp(error_of(@() korvane_smallest(zeros(0, 2^32), [], 2^32)), ...
                                   strrep(toolarge, 'korvane:', 'korvane_smallest:')));

% Many calls in a row, with errors among them.
all_ok = true;
expected = korvane(a, b);
for round = 1:2000
  all_ok = all_ok && same_bits(korvane(a, b), expected);
  all_ok = all_ok && strcmp(error_of(@() korvane(a, ones(2, 2))), lengths);
  all_ok = all_ok && strcmp(error_of(@() korvane(single(a))), notdouble(1, single_fix));
end
check('many calls', all_ok);

% korvane_info beside it: the package's version, the entry point it is.
info = korvane_info();
description = fileread(fullfile(fileparts(mfilename('fullpath')), '..', '..', 'package', 'DESCRIPTION'));
version = regexp(description, '^Version: *(\S+)', 'tokens', 'once', 'lineanchors');
check('korvane_info version', strcmp(info.version, version{1}));
if numel(args) >= 2
  entry_point = struct('oct', 'oct-file', 'mex', 'MEX').(args{2});
  check('korvane_info build', strcmp(info.build, ['CMake, ' entry_point]));
end

% help korvane comes from the help file beside the module.
text = evalc('help korvane');
check('help text', ~isempty(strfind(text, 'c = korvane(a,b,Q)')) && ~isempty(strfind(text, 'Exactness')));
check('help korvane_smallest', ~isempty(strfind(evalc('help korvane_smallest'), '[d,i] = korvane_smallest(a,b,k)')));

printf('%d passed, %d failed\n', passed, failed);
if failed > 0
  exit(1);
end
